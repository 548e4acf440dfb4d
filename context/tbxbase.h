/*
 * tbxbase.h - file-system helpers of the configuration store: replacing a file atomically,
 * reading a local file, creating a store directory.
 */
#ifndef TBXBASE_H
#define TBXBASE_H

#include <cstddef>
#include <cstdint>

#include "mvstring.h"

struct stat;

/* Permission bits of new store files; the process's umask applies. */
#define TBX_FILE_MODE 0666
/* Permission bits of private key files, whatever the umask and whatever the replaced file had. */
#define TBX_PRIVATE_FILE_MODE 0600
/* Permission bits of the directory that holds private keys. */
#define TBX_PRIVATE_DIR_MODE 0700
/* Temporary files are named TBX_TEMP_MARKER, the writer's random part (TBX_TEMP_RANDOM_DIGITS
 * lowercase hex digits), "~" and the target's name: a form no person, and no key identifier the
 * store accepts, gives a file. */
#define TBX_TEMP_MARKER        ".kestrum~"
#define TBX_TEMP_RANDOM_DIGITS 16
/* Symbolic links followed to find the file a write replaces, as the kernel's own bound. */
#define TBX_MAX_SYMLINK_HOPS 40

/*
 * Replaces the file at `path` with `length` bytes of `data` so that, whatever happens (a failed
 * write, a full disk, the process killed at any byte), the path holds either its complete old
 * content or the complete new one:
 *  - the bytes go to a new temporary file in the target's directory, which is flushed and
 *    synced, then renamed over the target; the directory is synced after the rename;
 *  - when `path` is a symbolic link (or a chain of them), the file it finally names is replaced
 *    and the link stays;
 *  - a replaced file keeps its permission bits (and, where the process may, its owner and
 *    group); a new file gets TBX_FILE_MODE less the umask. With `privateFile` the result has
 *    exactly TBX_PRIVATE_FILE_MODE in both cases, and the bytes are never readable by others,
 *    not even while the temporary file is written.
 * Returns 0; TBX_E_FILE_NOT_FOUND when the temporary file cannot be created (missing directory,
 * no permission, the target is a directory, the path holds a zero byte, a loop of links) or the
 * existing target may not be written by this process (a read-only file stays as it is);
 * TBX_E_FILE_IO when writing, syncing or renaming fails. On failure the temporary file is
 * removed and the target is untouched; `*sysError` (when not null) receives the errno value.
 * A writer killed before the rename leaves its temporary file behind, locked only while it
 * lived: every write removes such files (names of TBX_IsTempName's form, nothing else) from the
 * directory it writes to, unless `path` is a link, whose target's directory is left alone.
 */
long TBX_ReplaceFile(const MvString& path, const void* data, size_t length, bool privateFile,
                     int* sysError);

/* What TBX_ReadFile found. */
enum class TBX_ReadResult
{
  Read,      /* the bytes are in `content` */
  NotOpened, /* missing, not to be opened, a directory, or a path holding a zero byte */
  Failed     /* opened, but a read failed: an unreadable file must not pass for an empty one */
};

/*
 * The one reader of local files: at most `limit` bytes of the file at `path` (all of it by
 * default) replace `content`. Zero bytes are read like any other. On NotOpened and Failed
 * `content` is unchanged. On Read, `status` (when not null) receives the status of the file
 * that was read, taken before its bytes were (its st_mode is 0 when it could not be had).
 */
TBX_ReadResult TBX_ReadFile(const MvString& path, MvString& content, size_t limit = SIZE_MAX,
                            struct stat* status = nullptr);

/*
 * Creates the last component of `dir` when it is not a directory this process may open (mode
 * 0777 less the umask; TBX_PRIVATE_DIR_MODE for a directory named keys/private). Raises the
 * errno of mkdir (EINVAL for a path holding a zero byte) with a message saying what to do. Any
 * length.
 */
void TBX_CreateDirectory(const MvString& dir);

/* The directory part of `path` ("." when it has no '/', "/" for a file in the root). */
MvString TBX_DirName(const MvString& path);

/* True when `text` holds a zero byte, which would cut a path short in the system calls. */
bool TBX_HasZeroByte(const MvString& text);

/* True when `name` (a file name without directory) has the form of TBX_ReplaceFile's temporary
 * files. */
bool TBX_IsTempName(const char* name);

#endif /* TBXBASE_H */
