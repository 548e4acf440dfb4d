#include "kestrum_report.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "tbxapp.h"

namespace {

// Size of the buffer the error text is looked up into.
constexpr long kErrorTextSize = 1024;

// Reasons may quote the host's MESSAGE: control characters in it would break the one-line report
// that scripts parse, or drive the terminal.
std::string Printable(const std::string& text)
{
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      c = '?';
  return out;
}

// The library's message for its last failure (the host's MESSAGE, a certificate problem, the
// file, host or key it was about); empty when it cannot be had.
std::string LibraryReason()
{
  long length = 0;
  if (TBX_GetLastErrorMessage(&length, nullptr) != TBX_E_BUFFER_TOO_SMALL || length <= 1)
    return std::string();
  std::unique_ptr<char[]> message(new (std::nothrow) char[static_cast<size_t>(length)]);
  if (!message || TBX_GetLastErrorMessage(&length, message.get()) != TBX_OK)
    return std::string();
  return message.get();
}

std::string g_store;

// The library names the action; the utility adds its own command for it.
std::string WithSetupCommand(const std::string& message)
{
  if (message.find("set the store up") == std::string::npos &&
      message.find("; give the host's set-up URL") == std::string::npos)
    return message;
  // A store read over http is set up where it lies, in the directory its web server publishes;
  // its URL is not repeated, as it may carry credentials.
  const bool overHttp =
      g_store.compare(0, 7, "http://") == 0 || g_store.compare(0, 8, "https://") == 0;
  return message + " - with kestrum: kestrum -conf -p " +
         (overHttp          ? "DIRECTORY"
          : g_store.empty() ? "."
                            : g_store) +
         " -r URL -u USER, the password in KESTRUM_PASSWORD" +
         (overHttp ? ", on the directory the store's web server publishes" : "");
}

// The second line of the error report: the reason, when it says more than the code's text.
void ReportReason(long code, const char* text, const std::string& reason)
{
  char bare[32];
  std::snprintf(bare, sizeof bare, "ErrorCode = 0x%lx",
                static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  if (reason.empty() || reason == text || reason == bare)
    return;
  std::fprintf(stderr, "[kestrum] %s\n", Printable(reason).c_str());
}

}  // namespace

long OsError(int error)
{
  return error != 0 ? error : TBX_E_FILE_IO;
}

std::string SystemReason(long code)
{
  return code > 0 ? std::strerror(static_cast<int>(code)) : "input/output error";
}

void ReportError(long code, bool fromLibrary, const std::string& reason, const char* first)
{
  const unsigned long shown = static_cast<unsigned long>(code) & 0xFFFFFFFFul;
  char text[kErrorTextSize];
  long length = kErrorTextSize;
  if (TBX_GetErrorStringFromResult(code, &length, text) != 0) {
    std::fprintf(stderr, "[kestrum] ERROR: 0x%08lX (%s)\n", shown, text);
  } else {
    std::fprintf(stderr, "ERROR: %08lx\n", shown);
    text[0] = '\0';
  }
  if (first != nullptr)
    std::fprintf(stderr, "[kestrum] %s\n", first);
  if (fromLibrary) {
    const std::string message = WithSetupCommand(LibraryReason());
    ReportReason(code, text, message.empty() ? message : reason + message);
  } else {
    ReportReason(code, text, reason);
  }
}

void ReportStore(const char* path)
{
  g_store = path != nullptr ? path : "";
}

long Check(long result)
{
  if (result != TBX_OK)
    ReportError(result, true);
  return result;
}
