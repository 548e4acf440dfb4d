/*
 * tbxstore.h - the configuration store of one merchant account: its location, the values and
 * files it holds, and the reading of local files and URLs with the store's transport settings.
 *
 * A store is a directory (or a location StreamFromURL can read) holding config.xml, default.xml,
 * settings.xml, keys/private/<id>, keys/public/<id> and keys/current. Nothing is cached: every
 * value is read from its file when it is asked for, and every change rewrites the whole file,
 * atomically (a crash leaves the old or the new file, never a mix).
 *
 * Every writer holds the store's lock (WriteLock) across its whole read-change-write, so that
 * writers in other processes and threads, on any path to the same directory, never lose each
 * other's changes. Readers take no lock: the atomic replacement gives them one whole file.
 *
 * Failures raise TBX_Exception (source "tbxctx", "tbxbase" or "tbxurl"). A missing file or
 * attribute on a read is not a failure: reads answer false.
 *
 * Defined by job: values and files in tbxstore.cpp, stream sources in tbxsource.cpp. The
 * settings are read straight from settings.xml, not through QueryValue: the store's values are
 * read with StreamFromURL, so that would go round in a circle. A store that is itself a URL has
 * its settings fetched without settings, which bounds the nesting.
 */
#ifndef TBXSTORE_H
#define TBXSTORE_H

#include "mvstring.h"

class xmlElement;
struct URL_INFO;

/* The detail of TBX_E_NO_CONTEXT: what a caller has to do first. */
const char TBX_NO_STORE[] = "no store is open: give the object its store's path first";

/* True when `file` names a file inside the store: a relative name with no ".." component. Any
 * other name would let a caller read or rewrite any file the process may touch. */
bool TBX_IsStoreFileName(const MvString& file);

class TBX_Store
{
public:
  TBX_Store() = default;
  ~TBX_Store();
  /* A copy has the path; the store's lock stays with the original. */
  TBX_Store(const TBX_Store& other);
  TBX_Store& operator=(const TBX_Store& other);

  /*
   * The store's lock, held from construction to destruction: an exclusive flock on the store's
   * directory, waited for while another writer holds it. A store may take it again while it
   * holds it (a set-up's steps write through the same store). A store that is a URL has no
   * lock. 0x80040202 when the directory cannot be opened, 0x80040203 when it cannot be locked;
   * the message names the directory and the reason.
   */
  class WriteLock
  {
  public:
    explicit WriteLock(TBX_Store& store);
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

  private:
    TBX_Store& m_Store;
  };

  /*
   * Records the store path (the current directory when `path` is empty) and creates the
   * directory when it does not exist (its parent must exist; the errno of mkdir is raised
   * otherwise). A store that is an HTTP(S) URL is only recorded.
   */
  void Open(const MvString& path);
  MvString GetPath() const;
  /* The path of the store file `file`. */
  MvString StoreFilePath(const MvString& file) const;

  /*
   * Reads the attribute `name` of the top TBX element of the store file `file` into `value`.
   * With an empty `name`, `value` receives the whole file. Answers false when the file does not
   * exist, or the attribute is absent or empty (`value` is then unchanged). A file that is not
   * XML with a TBX element raises 0x80040204; an unopened store 0x80040201.
   */
  bool QueryValue(const MvString& file, const MvString& name, MvString& value);
  /*
   * The attributes `names` (a list ending in null) of the top TBX element of the store file
   * `file`, as xmlElement::getAttribute gives them (an empty value counts), in the order of
   * `names`: NextAttribute reads them from `values`. False when the file does not exist; a file
   * that is not XML with a TBX element raises 0x80040204.
   */
  bool QueryAttributes(const MvString& file, const char* const* names, MvString& values);
  /* The attribute of QueryAttributes's `values` at `at` (0 for the first) in `name` and
   * `value`; `at` moves to the next. False at the end. */
  static bool NextAttribute(const MvString& values, unsigned& at, MvString& name, MvString& value);
  /* Reads at most `length` bytes of the store file; `length` receives the count. False when the
   * file cannot be opened. */
  bool QueryValue(const MvString& file, unsigned char* buffer, unsigned long& length);

  /* What the store can tell of an entry without reading it. */
  enum class Presence
  {
    Absent,
    Present,
    Unknown
  };
  /*
   * Whether the store entry `file` exists. In a directory the entry is looked at, never opened:
   * any directory entry counts, a dangling link too; Absent only when the system says so for
   * certain, Unknown when the entry cannot be looked at (permissions, I/O). In a store that is a
   * URL the entry is fetched and its content dropped: a 404 answer is Absent, another refusal
   * Unknown; transport failures propagate.
   */
  Presence Probe(const MvString& file);
  /*
   * QueryValue of the whole file `file`, a symbolic link excepted: then `link` is set and the
   * answer is false without reading anything (a store that is a URL has no links).
   */
  bool QueryPlainFile(const MvString& file, MvString& content, bool& link);

  /*
   * Sets the attribute `name` of the file's TBX element to `value` and rewrites the file. With
   * `create` a missing, empty or malformed file is replaced by a new TBX element; without it,
   * such a file raises 0x80040204. A name that is empty or holds a byte other than letters,
   * digits, '.', '-' and '_' raises 0x80040218 and writes nothing (it would ruin the file).
   */
  void SetValue(const MvString& file, const MvString& name, const MvString& value, bool create);

  /*
   * Replaces the store file with exactly `text` (no line end added), atomically. Files under
   * "keys/private/" get mode 0600. 0x80040202 when the file cannot be created, 0x80040203 when
   * it cannot be written; either way the old file stays as it was.
   */
  void UpdateFile(const MvString& file, const MvString& text);
  void UpdateFile(const MvString& file, const unsigned char* buffer, unsigned long length);

  /*
   * Appends the whole content of `location` to `out`: an "http:" or "https:" URL is fetched
   * with the proxy, trace, TLS and time-out settings of the store's settings.xml; anything else
   * is a local file, whose absence raises 0x80040219 with the location as message.
   * Transport failures propagate; for a URL nothing is appended unless the fetch succeeds.
   */
  void StreamFromURL(const MvString& location, MvStringStream& out);
  /* Fetches the split URL `info` as StreamFromURL does, with the store's transport settings;
   * the credentials `info` carries go to the Authorization header. */
  void Fetch(URL_INFO& info, MvStringStream& out);

  /* ---- Helpers (no store needed) ------------------------------------------------------- */

  /* Creates the last component of `dir` when it is missing (mode 0777 less the umask; 0700 for
   * a directory named keys/private). Raises the errno of mkdir when that fails. Any length. */
  static void CreatePath(const MvString& dir);
  /* The current working directory, of any length; empty when it cannot be determined. */
  static MvString GetDefaultConfiguration();
  /* 32 lowercase hex digits of a new libuuid identifier. */
  static MvString CreateUuid();
  /* Message hook; writes nothing. */
  static void LogMessage(const MvString& text);

private:
  /* The TBX element of settings.xml; false when the store has no such file. */
  bool LoadSettings(xmlElement** element);
  void LockStore();
  void UnlockStore();

  MvString m_Path;   /* store location; empty: no store open */
  int m_LockFd = -1; /* the store's directory while this store holds its lock */
  unsigned m_LockDepth = 0;
};

#endif /* TBXSTORE_H */
