// Result codes inside the library, the exception that carries them, and the trace hooks.
#ifndef TBXERR_H
#define TBXERR_H

#include "mvstring.h"
#include "tbxcodes.h"

// Error sites. A failure or trace event is reported at a site: a unit name ("tbxctx", "tbxhttp",
// ...) and a line value, both shown by the TBXDEBUG form of a message and by the trace. Callers and
// their logs match on them, so they are fixed identifiers, not source lines: code moves, they stay.
// Each unit name has one table of its sites, in one form:
//
//   const char kUnit[] = "tbxhttp";
//   enum Site : long {
//     kSiteConnect = 701,
//   };
//
// in the anonymous namespace of the one file that reports under that name, or in a header of its
// folder where several files do (context/tbxctx_sites.h).

// Raises a TBX_Exception at the site (`unit`, `line`).
#define TBX_THROW(code, message, unit, line)                                                       \
  throw TBX_Exception((code), MvString(message), (unit), (line))

// The code-to-text table. Lookups use only the low 32 bits of a result.
class TBX_ErrorLookup
{
public:
  // Assigns the text of `result` to `text` and answers true; answers false and leaves `text`
  // alone when the code has no text.
  static bool GetErrorStringFromResult(long result, MvString& text);
  // The text of `result`, or null when it has none.
  static const char* Find(long result);
  // True when the environment variable TBXDEBUG is defined (even empty); read on every call.
  static bool UseExtendedErrorInfo();
};

// The exception raised inside the component. Copyable; caught and rethrown by value.
//
// The message argument (the detail) names what the failure was about (a file's path, a host and
// port, a URL, a key identifier, what was expected and where) and, where one obvious action
// exists, says it after "; " as a plain sentence. Secrets are hidden from it by the trace sink's
// own rules (TBX_TraceRedact), so messages and trace lines cannot drift apart on what they show.
class TBX_Exception
{
public:
  TBX_Exception(long result, const MvString& message, const char* file, long line);

  // The same failure (code, unit and line) told with another detail: for a caller that knows
  // what a lower layer's failure was about (the file it read, the URL it fetched).
  TBX_Exception Retold(const MvString& detail) const;

  long m_Result;       // the result code (sign-extended 32-bit value)
  MvString m_Message;  // composed text: [file(line) : error code : ] text-or-code [ (detail)]
  MvString m_File;     // raising source unit
  long m_Line;         // line the unit documents for the failure
  MvString m_Detail;   // the message argument as composed into m_Message, secrets hidden
};

// Trace hooks: every notable step and every exception is announced here. The hooks change no
// result, file or message of the component.
class TBX_TraceLog
{
public:
  static void Write(const char* file, long line, long result, const MvString& tag,
                    const MvString& text);
};

// The low 32 bits of a result as "%x" prints them (no prefix, no leading zeros).
MvString TBX_FormatResultHex(long result);

#endif
