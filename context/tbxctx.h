/*
 * tbxctx.h - one opened configuration store of a merchant account.
 *
 * A store is a directory (or a location StreamFromURL can read) holding config.xml, default.xml,
 * settings.xml, keys/private/<id>, keys/public/<id> and keys/current. Nothing is cached: every
 * value is read from its file when it is asked for, and every change rewrites the whole file,
 * atomically (a crash leaves the old or the new file, never a mix).
 *
 * Failures raise TBX_Exception (source "tbxctx", "tbxbase" or "tbxurl"). A missing file or
 * attribute on a read is not a failure: reads answer false.
 *
 * The class is declared here whole; its members are defined by job, each part named by its own
 * header: the store and its helpers in tbxctx.cpp, the XML helpers in tbxxml.cpp (tbxxml.h),
 * keys and signatures in tbxkeys.cpp (tbxkeys.h), set-up in tbxsetup.cpp (tbxsetup.h), stream
 * sources and request URLs in tbxsource.cpp (tbxsource.h).
 */
#ifndef TBXCTX_H
#define TBXCTX_H

#include "mvstring.h"

class xmlElement;
struct URL_INFO;

class TBX_Context
{
public:
  TBX_Context();
  ~TBX_Context();

  /* ---- The store ---------------------------------------------------------------------- */

  /*
   * Records the store path (the current directory when `path` is empty) and creates the
   * directory when it does not exist (its parent must exist; the errno of mkdir is raised
   * otherwise). A store that is an HTTP(S) URL is only recorded.
   */
  void Open(const MvString& path);
  MvString GetPath() const;

  /* "UserName", "Password" or "VTAUTOURL" (case-sensitive); any other name raises
   * 0x80040207. */
  void SetOption(const MvString& name, const MvString& value);

  /*
   * Reads the attribute `name` of the top TBX element of the store file `file` into `value`.
   * With an empty `name`, `value` receives the whole file. Answers false when the file does not
   * exist, or the attribute is absent or empty (`value` is then unchanged). A file that is not
   * XML with a TBX element raises 0x80040204; an unopened context 0x80040201.
   */
  bool QueryValue(const MvString& file, const MvString& name, MvString& value);
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

  /* ---- XML helpers (no store needed; tbxxml.h) ------------------------------------------- */

  /* Parses `in` and hands out its first top-level TBX element (one reference for the caller);
   * 0x80040204 when the text is not XML or has no TBX element. */
  static void XmlFromStream(MvStringStream& in, xmlElement** element);
  static void XmlFromString(const MvString& text, xmlElement** element);
  /* A new element TBX with MSGTYPE = `type` (one reference for the caller). */
  static void XmlCreateRequest(const MvString& type, xmlElement** element);
  /* Returns when `response` has MSGTYPE `expected`; 0x80040213 with the host's MESSAGE when it
   * is "Error", else 0x80040208 naming both types. */
  static void CheckResponseMsgType(xmlElement* response, const MvString& expected);
  /* Parses the host's `answer` to a request sent to `url` and checks its type as
   * CheckResponseMsgType does; the failures name the URL (without credentials or query). */
  static void CheckAnswer(MvStringStream& answer, const MvString& expected, const MvString& url,
                          xmlElement** element);

  /* ---- Helpers ------------------------------------------------------------------------ */

  /* Creates the last component of `dir` when it is missing (mode 0777 less the umask; 0700 for
   * a directory named keys/private). Raises the errno of mkdir when that fails. Any length. */
  static void CreatePath(const MvString& dir);
  /* The current working directory, of any length; empty when it cannot be determined. */
  static MvString GetDefaultConfiguration();
  /* 32 lowercase hex digits of a new libuuid identifier. */
  static MvString CreateUuid();
  /* Message hook; writes nothing. */
  static void LogMessage(const MvString& text);

  /* ---- Keys and signatures (tbxkeys.h) ------------------------------------------------- */

  /*
   * Generates a key pair of the size settings.xml KEYBITS asks for (512 when absent; 1024, 2048,
   * 3072, 4096; anything else raises 0x80040207) and writes keys/public/<id>, then
   * keys/private/<id> (mode 0600). `keyId` must be a plain file name, else 0x80040204.
   */
  void GenKey(const MvString& keyId);
  /*
   * Signs `data` with keys/private/<keyId>: `signature` receives lowercase hex. 0x8004020E for an
   * identifier that is not a plain file name, 0x8004020D when the key file is missing or empty,
   * 0x8004020B for a key text that is not hex, 0x80040209 when the key does not decode.
   */
  void SignData(const MvString& data, const MvString& keyId, MvString& signature);
  /*
   * Returns only when `signature` (hex) is a valid signature of `data` under keys/public/<keyId>.
   * 0x8004020E / 0x8004020D as SignData; 0x8004020B for a key or signature text that is not hex
   * or too long, an unsound key, or a signature text of another length than twice the key's
   * size in bytes; 0x80040214 when it does not verify.
   */
  void VerifyData(const MvString& data, const MvString& keyId, const MvString& signature);

  /* True when `text` is even-length hex of the DER of a sound RSA public key that VerifyData
   * would accept: the check a host's KEYBLOB must pass before it is stored. */
  static bool IsPublicKeyText(const MvString& text);

  static MvString BufferToHex(const unsigned char* buffer, unsigned long length);
  static long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length);
  static MvString Encode(const MvString& text);
  static void SlToBackSl(MvString& text);

  /* ---- Set-up against the host (tbxsetup.cpp; the flows are described in tbxsetup.h) ---- */

  void Reconfigure();
  void Setup();
  void ImportKey(MvString& keyId);
  void LoadDefaults();
  void PublishKey(const MvString& keyId);

  /* ---- Stream sources and request URLs (tbxsource.h) ---------------------------------- */

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

  /*
   * `url` := endpoint, "?DATA=", Encode(request text) and, when `signature` is not empty,
   * "&SIGNATURE=" and the signature. The options' credentials never enter the text (the
   * exchange hands them to the transport). 0x80040206 when the endpoint is not an http:// or
   * https:// URL (anything else would be read as a local file); the message names `setting`,
   * the configuration value the endpoint came from, when given.
   */
  void RequestToURL(const MvString& endpoint, MvStringStream& request, MvString signature,
                    MvString& url, const char* setting = nullptr);

  /* The options "UserName" and "Password": the credentials of requests to the host. */
  const MvString& GetUserName() const { return m_UserName; }
  const MvString& GetPassword() const { return m_Password; }

private:
  /* The set-up endpoint: option VTAUTOURL, else config.xml TBX.VTAUTOURL; when neither gives
   * one, the step's failure `code` at `site`, saying what to give. */
  MvString SetupEndpoint(long code, long site);
  /* The TBX element of settings.xml; false when the store has no such file. */
  bool LoadSettings(xmlElement** element);
  MvString StoreFilePath(const MvString& file) const;

  MvString m_Path;     /* store location; empty: no context present */
  MvString m_UserName; /* option "UserName" */
  MvString m_Password; /* option "Password" */
  MvString m_AutoUrl;  /* option "VTAUTOURL": set-up endpoint override */
};

/* The detail of TBX_E_NO_CONTEXT: what a caller has to do first. */
const char TBX_NO_STORE[] = "no store is open: give the object its store's path first";

#endif /* TBXCTX_H */
