#!/usr/bin/env bash
# Installs this build into a temporary prefix and checks what a customer gets: the installed files
# and nothing else, the library's SONAME and links, a C program built against the tree through
# pkg-config and through find_package(tbxapp), the installed kestrum, and the Debian package.
# Everything happens under one temporary directory, removed at the end; the build tree is only read.
#
# Set by the test's registration: TBX_BUILD_DIR TBX_SOURCE_DIR TBX_CONSUMER_DIR TBX_CC
# TBX_SANITIZE_FLAGS TBX_WITH_JAVA TBX_JAVA TBX_VERSION TBX_SOVERSION and the install directories
# TBX_BINDIR TBX_LIBDIR TBX_INCLUDEDIR TBX_DATADIR TBX_MANDIR TBX_PYDIR TBX_PHPDIR (relative to the prefix),
# and TBX_PYTHON, a python3 to import the installed package with; TBX_PHPDIR and TBX_PHP likewise
# for the PHP package.
set -euo pipefail

fail() { echo "package: FAILED: $*" >&2; exit 1; }
step() { echo "package: $*"; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tbxapp-package.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
libdir=$prefix/$TBX_LIBDIR
san=($TBX_SANITIZE_FLAGS)

# Runs a command quietly, showing its output only when it fails.
quiet() {
  local log=$tmp/quiet.log
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}

# The files an installation holds (under $1: "" or "usr/"), one per line, sorted, with the build configuration's name in
# the exported targets' file name replaced by CONFIG.
manifest() {
  local usr=$1
  {
    echo "$usr$TBX_BINDIR/kestrum"
    echo "$usr$TBX_BINDIR/kestrum-sandbox"
    echo "$usr$TBX_INCLUDEDIR/tbxapp.h"
    echo "$usr$TBX_INCLUDEDIR/tbxcodes.h"
    echo "$usr$TBX_LIBDIR/libtbxapp.so"
    echo "$usr$TBX_LIBDIR/libtbxapp.so.$TBX_SOVERSION"
    echo "$usr$TBX_LIBDIR/libtbxapp.so.$TBX_VERSION"
    echo "$usr$TBX_LIBDIR/pkgconfig/tbxapp.pc"
    echo "$usr$TBX_LIBDIR/cmake/tbxapp/tbxappConfig.cmake"
    echo "$usr$TBX_LIBDIR/cmake/tbxapp/tbxappConfigVersion.cmake"
    echo "$usr$TBX_LIBDIR/cmake/tbxapp/tbxappTargets.cmake"
    echo "$usr$TBX_LIBDIR/cmake/tbxapp/tbxappTargets-CONFIG.cmake"
    echo "$usr$TBX_MANDIR/man1/kestrum.1"
    for f in __init__.py _api.py _errors.py _installed.py _native.py _redact.py py.typed; do
      echo "$usr$TBX_PYDIR/kestrum/$f"
    done
    if [ "$TBX_WITH_JAVA" = ON ]; then echo "$usr$TBX_DATADIR/java/kestrum.jar"; fi
    for f in composer.json README.md kestrum.h autoload.php preload.php installed.php; do
      echo "$usr$TBX_PHPDIR/$f"
    done
    for f in "$TBX_SOURCE_DIR"/php/src/*.php "$TBX_SOURCE_DIR"/php/src/Internal/*.php; do
      echo "$usr$TBX_PHPDIR/src/${f#"$TBX_SOURCE_DIR"/php/src/}"
    done
  } | sort
}
normalise() { sed 's/tbxappTargets-[a-z]*\.cmake$/tbxappTargets-CONFIG.cmake/' | sort; }

# The dynamic section of a program or library: its SONAME, NEEDED and RUNPATH entries.
dynamic() { readelf -d "$1" | sed -n 's/.*(\(SONAME\|NEEDED\|RUNPATH\|RPATH\)).*\[\(.*\)\]/\1 \2/p'; }

# Where the dynamic loader finds libtbxapp for program $1, with the environment settings after it.
# Answers the file's real path, so that $ORIGIN/../lib and the prefix's lib compare equal.
resolved() {
  local path
  path=$(env "${@:2}" ldd "$1" | sed -n 's/^[[:space:]]*libtbxapp\.so[^ ]* => \([^ ]*\).*/\1/p')
  [ -n "$path" ] && readlink -f "$path"
}

# ---- cmake --install -------------------------------------------------------------------------
step "cmake --install into a temporary prefix"
quiet cmake --install "$TBX_BUILD_DIR" --prefix "$prefix"
installed_lib=$(readlink -f "$libdir/libtbxapp.so.$TBX_VERSION")

diff <(manifest "") <(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | normalise) \
  || fail "the installed files differ from the expected ones (< expected, > installed)"

[ "$(readlink "$libdir/libtbxapp.so")" = "libtbxapp.so.$TBX_SOVERSION" ] || fail "libtbxapp.so link"
[ "$(readlink "$libdir/libtbxapp.so.$TBX_SOVERSION")" = "libtbxapp.so.$TBX_VERSION" ] \
  || fail "libtbxapp.so.$TBX_SOVERSION link"
dynamic "$libdir/libtbxapp.so.$TBX_VERSION" | grep -qx "SONAME libtbxapp.so.$TBX_SOVERSION" \
  || fail "SONAME is not libtbxapp.so.$TBX_SOVERSION"

# Nothing installed may point back into the source or build tree, nor name the object library.
for f in "$prefix/$TBX_BINDIR"/* "$libdir/libtbxapp.so.$TBX_VERSION"; do
  if dynamic "$f" | grep -F -e "$TBX_BUILD_DIR" -e "$TBX_SOURCE_DIR"; then
    fail "$f: search path into the build"
  fi
done
if grep -r -l -F -e "$TBX_BUILD_DIR" -e "$TBX_SOURCE_DIR" -e tbxapp_obj \
     "$libdir/pkgconfig" "$libdir/cmake"; then
  fail "build-tree path or tbxapp_obj in the installed pkg-config or CMake files"
fi

# ---- the installed programs run; kestrum finds the installed library by itself ------------------
step "installed kestrum and kestrum-sandbox run"
[ "$(resolved "$prefix/$TBX_BINDIR/kestrum")" = "$installed_lib" ] \
  || fail "installed kestrum does not resolve libtbxapp in the prefix"
"$prefix/$TBX_BINDIR/kestrum" -h >"$tmp/usage.txt" 2>&1 || true
grep -q -- "-payinit" "$tmp/usage.txt" || { cat "$tmp/usage.txt" >&2; fail "kestrum -h"; }
"$prefix/$TBX_BINDIR/kestrum-sandbox" --help >"$tmp/usage.txt" 2>&1 \
  && grep -q -- "--state" "$tmp/usage.txt" || { cat "$tmp/usage.txt" >&2; fail "kestrum-sandbox --help"; }

# ---- the Python package imports and finds the library installed with it ------------------------
# $1: the directory holding the package, $2: the library it must load.
python_package() {
  local found
  if [ -z "$TBX_PYTHON" ] || [ -n "$TBX_SANITIZE_FLAGS" ]; then
    step "skipped the Python package: no python3, or an instrumented library"
    return
  fi
  found=$(env -u KESTRUM_LIBRARY PYTHONPATH="$1" PYTHONDONTWRITEBYTECODE=1 "$TBX_PYTHON" -c \
    'import kestrum; print(kestrum.__version__); print(kestrum.library_path())') \
    || fail "python: import kestrum from $1"
  [ "$found" = "$TBX_VERSION"$'\n'"$2" ] || fail "python: kestrum from $1 gave: $found"
}
step "Python package imports and finds the installed library"
python_package "$prefix/$TBX_PYDIR" "$installed_lib"

# ---- the PHP package loads the library installed with it ----------------------------------------
# $1: the directory holding the package, $2: the library it must load.
php_package() {
  local found
  if [ -z "$TBX_PHP" ] || [ -n "$TBX_SANITIZE_FLAGS" ]; then
    step "skipped the PHP package: no php, or an instrumented library"
    return
  fi
  found=$(env -u KESTRUM_LIBRARY "$TBX_PHP" -r '
    require $argv[1] . "/autoload.php";
    echo realpath(Kestrum\Internal\Library::bound()), "\n", Kestrum\Internal\Errors::text(0x80040214);' "$1") \
    || fail "php: the package in $1"
  [ "$found" = "$2"$'\n'"invalid signature" ] || fail "php: the package in $1 gave: $found"
}
step "PHP package loads the installed library"
php_package "$prefix/$TBX_PHPDIR" "$installed_lib"

# ---- a consumer through pkg-config ----------------------------------------------------------------
# Builds and runs the consumer against the tree whose pkg-config directory is $1, named $2.
pkgconfig_consumer() {
  local pcdir=$1 name=$2 lib
  lib=$(readlink -f "$pcdir/../libtbxapp.so.$TBX_VERSION")
  [ "$(PKG_CONFIG_LIBDIR=$pcdir pkg-config --modversion tbxapp)" = "$TBX_VERSION" ] \
    || fail "$name: pkg-config --modversion tbxapp"
  # PKG_CONFIG_LIBDIR: this tree only, never the system's.
  # shellcheck disable=SC2046
  quiet "$TBX_CC" -std=c99 -Wall -Wextra -pedantic -Werror "${san[@]}" \
    -o "$tmp/consumer-$name" "$TBX_CONSUMER_DIR/consumer.c" \
    $(PKG_CONFIG_LIBDIR=$pcdir PKG_CONFIG_PATH= pkg-config --cflags --libs tbxapp)
  [ "$(resolved "$tmp/consumer-$name" LD_LIBRARY_PATH="${pcdir%/pkgconfig}")" = "$lib" ] \
    || fail "$name: the consumer does not resolve libtbxapp in its tree"
  LD_LIBRARY_PATH=${pcdir%/pkgconfig} "$tmp/consumer-$name" "$tmp/no-such-dir/store" \
    || fail "$name: the consumer failed"
}
step "consumer built through pkg-config"
pkgconfig_consumer "$libdir/pkgconfig" installed

# ---- a consumer through find_package(tbxapp) ------------------------------------------------------
step "consumer built through find_package(tbxapp)"
quiet cmake -S "$TBX_CONSUMER_DIR" -B "$tmp/consumer-cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DCMAKE_C_COMPILER="$TBX_CC" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS="${san[*]}" -DCMAKE_EXE_LINKER_FLAGS="${san[*]}"
grep -qx "tbxapp_DIR:PATH=$libdir/cmake/tbxapp" "$tmp/consumer-cmake/CMakeCache.txt" \
  || fail "find_package(tbxapp) did not use the prefix's package"
quiet cmake --build "$tmp/consumer-cmake"
# CMake gives the program a run path to the imported library: no LD_LIBRARY_PATH.
[ "$(resolved "$tmp/consumer-cmake/consumer")" = "$installed_lib" ] \
  || fail "find_package consumer does not resolve libtbxapp in the prefix"
"$tmp/consumer-cmake/consumer" "$tmp/no-such-dir/store" || fail "find_package consumer"

# ---- the jar with the library's natives ------------------------------------------------------------
if [ "$TBX_WITH_JAVA" != ON ]; then
  step "skipped the jar: the build has no Java binding"
elif [ -n "$TBX_SANITIZE_FLAGS" ]; then
  step "skipped the jar: the JVM cannot load an instrumented library"
else
  step "Java program with the installed jar"
  # java.library.path given: this prefix only. A source file runs without a separate javac.
  "$TBX_JAVA" -Djava.library.path="$libdir" -cp "$prefix/$TBX_DATADIR/java/kestrum.jar" \
    "$TBX_CONSUMER_DIR/Consumer.java" "$tmp/no-such-dir/store" || fail "java consumer"
fi

# ---- the Debian package ----------------------------------------------------------------------------
if ! command -v dpkg-deb >/dev/null; then
  step "skipped the Debian package: dpkg-deb is not installed"
  echo "package: passed"
  exit 0
fi
step "Debian package through cpack"
quiet cpack -G DEB --config "$TBX_BUILD_DIR/CPackConfig.cmake" -B "$tmp/deb"
debs=("$tmp"/deb/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "kestrum_${TBX_VERSION}-1_${arch}.deb" ] || fail "package file name $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kestrum ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$TBX_VERSION-1" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = libs ] || fail "Section: $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
for d in libssl3 libuuid1 libc6; do
  grep -qE "(^|, )$d( |,|$)" <<<"$depends" || fail "Depends lacks $d: $depends"
done
grep -q "libtbxapp $TBX_SOVERSION kestrum" <(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./shlibs) \
  || fail "no shlibs entry for libtbxapp"

dpkg-deb -c "$deb" >"$tmp/contents.txt"
# Every entry belongs to root; the files are the installation's, under /usr.
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$tmp/contents.txt" \
  || fail "entries not owned by root/root"
diff <(manifest usr/) \
     <(awk '$1 !~ /^d/ { print $6 }' "$tmp/contents.txt" | sed 's|^\./||' | normalise) \
  || fail "the package's files differ from the expected ones (< expected, > packaged)"
step "$(basename "$deb"): Depends: $depends"

# The packaged tree, unpacked anywhere, works as installed: its program and a consumer.
step "consumer built against the unpacked package"
dpkg-deb -x "$deb" "$tmp/unpacked"
"$tmp/unpacked/usr/$TBX_BINDIR/kestrum" -h >"$tmp/usage.txt" 2>&1 || true
grep -q -- "-payinit" "$tmp/usage.txt" || { cat "$tmp/usage.txt" >&2; fail "packaged kestrum -h"; }
pkgconfig_consumer "$tmp/unpacked/usr/$TBX_LIBDIR/pkgconfig" packaged
python_package "$tmp/unpacked/usr/$TBX_PYDIR" \
  "$(readlink -f "$tmp/unpacked/usr/$TBX_LIBDIR/libtbxapp.so.$TBX_VERSION")"
php_package "$tmp/unpacked/usr/$TBX_PHPDIR" \
  "$(readlink -f "$tmp/unpacked/usr/$TBX_LIBDIR/libtbxapp.so.$TBX_VERSION")"

echo "package: passed"
