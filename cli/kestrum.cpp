// kestrum: one command per operation of the Kestrum application component. Uses the public C
// interface only, like any customer of the library.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kestrum_args.h"
#include "tbxapp.h"

namespace {

// The set-up endpoint named in the usage text.
#define KESTRUM_SETUP_URL "https://setup.kestrum.example/user/setup.asp"

const char kUsage[] =
    "\n"
    "KESTRUM COMMAND LINE UTILITY\n"
    "\n"
    "       syntax: kestrum option [arguments]\n"
    "\n"
    "The kestrum command line utility allows access to the Kestrum Application\n"
    "Component. The KAC exposes a set of interfaces for transaction processing\n"
    "and administration.\n"
    "\n"
    "\n"
    "      Configuration options:\n"
    "               -conf               Starts the configuration process\n"
    "               -attr               Sets default attributes\n"
    "\n"
    "      Transaction options:\n"
    "               -payinit            Creates a digital offer\n"
    "               -payconfirm         Verifies the kestrum reservation\n"
    "               -capt               Financial transfer\n"
    "\n"
    "      Additional options:\n"
    "               -exec               General message exchange\n"
    "               -h, --help          Shows this help\n"
    "\n"
    "\n"
    "      Arguments:\n"
    "               -p, --path          path to your kestrum component\n"
    "               -r, --serverurl    URL to the kestrum server\n"
    "               -u, --username      unique identification of each user\n"
    "               -w, --password\n"
    "               -a, --attribute    kestrum attributes\n"
    "               -s, --signature\n"
    "               -d, --data          XML encoded string\n"
    "               -t, --token         aditional signed data\n"
    "               -i, --identifier    unique transaction identifier\n"
    "               -m, --messagetype  kestrum message type\n"
    "               -f, --filename\n"
    "\n"
    "\n"
    "\n"
    "USAGE:\n"
    "-----\n"
    "\n"
    "   Configuration:\n"
    "   -------------\n"
    "         Defines the path for the configuration store, creates\n"
    "         or updates the kestrum client module in the specified\n"
    "         path and sets the default attributes.\n"
    "\n"
    "\n"
    "      syntax:\n"
    "         kestrum -conf --path --serverurl --username --password \\\n"
    "                  { --attribute AttributeName DefaultValue }\n"
    "\n"
    "      e.g. kestrum -conf -p /opt/kestrum \\\n"
    "                    -r " KESTRUM_SETUP_URL " \\\n"
    "                    -u e40215536 -w Pq7mWz2L\n"
    "\n"
    "           ServerURL: <" KESTRUM_SETUP_URL ">\n"
    "                      as default.\n"
    "\n"
    "           test password and username...\n"
    "\n"
    "\n"
    "      Set default attributes seperately:\n"
    "\n"
    "      syntax:\n"
    "         kestrum -attr --path { --attribute AttributeName DefaultValue }\n"
    "\n"
    "      e.g. kestrum -attr -p /opt/kestrum -a DELEVERY no ALLOWCOLLECT no\n"
    "\n"
    "\n"
    "\n"
    "   Digital offer (PayInit message creation):\n"
    "   -------------\n"
    "         The digital offer is the starting point of the transaction.\n"
    "         It is a piece of data digitally signed by the issuing merchant\n"
    "         and packed into an URL called \"PayInit message\". Needs\n"
    "         all the mandatory PayInit attributes, which are not set in\n"
    "         the default attributes (/{KESTRUM_DIR}/default.xml).\n"
    "\n"
    "\n"
    "      syntax:\n"
    "         kestrum -payinit --path { --attribute AttributeName Value }\n"
    "\n"
    "\n"
    "      e.g. kestrum -payinit -p /opt/kestrum -a AMOUNT 1560 CURRENCY EUR \\\n"
    "                    DESCRIPTION \"Test Purchase with kestrum\" \\\n"
    "                    SUCCESSLINK <success link> BACKLINK <back link>\n"
    "                    FAILLINK <fail link> ACCOUNTID 40215-53602871\n"
    "\n"
    "           SUCCESSLINK: A URL identifing the web page to dispay after the\n"
    "                        reservation has been succesfully completed. The\n"
    "                        comfirmation message will be appended to this URL.\n"
    "\n"
    "           FAILLINK:    This parameter indicates the page to display after\n"
    "                        a reservation attempt has failed.\n"
    "\n"
    "           BACKLINK:    This page is displayed in the client's browser if\n"
    "                        the transaction is aborted.\n"
    "\n"
    "\n"
    "\n"
    "   Reservation (PayConfirm message verification):\n"
    "   -----------\n"
    "         Checks the PayInit message, which was sent by the Kestrum\n"
    "         host. Parameters must not be URL-encoded.\n"
    "\n"
    "\n"
    "      syntax:\n"
    "         kestrum -payconfirm --path --data --signature { --filename }\n"
    "\n"
    "      e.g. kestrum -payconfirm -p /opt/kestrum/ -d < datastring > \\\n"
    "                     -s < signature >\n"
    "\n"
    "\t\t\tIf the message have been verified successfully, the XML-encoded\n"
    "         data string could be stored in a file for a later use (eg. capturing).\n"
    "         In this case specify the path with the '--filename' argument.\n"
    "\n"
    "\n"
    "\n"
    "   Finacial transfer (Capturing):\n"
    "   -----------------\n"
    "         Creates the PayComplete message, sends it to the Kestrum\n"
    "         host and checks the response. Id and Token can be taken\n"
    "         from the PayConfirm Message or from a file if a valid argument\n"
    "         '--filename' is specified (Id+Token=Transaction Handle).\n"
    "\n"
    "\n"
    "      syntax:\n"
    "         kestrum -capt --path --identifier --token\n"
    "                  { --attribute AttributeName Value }\n"
    "\n"
    "         kestrum -capt --path --filename { --attribute AttributeName Value }\n"
    "\n"
    "      e.g. kestrum -capt -p /opt/kestrum/ -f ./confirmed.log\n"
    "\n"
    "\n"
    "\n"
    "   General message exchange: Creates a Kestrum request,\n"
    "   ------------------------  adds additional attributes,\n"
    "                             sends it to the host and gets the response.\n"
    "\n"
    "       kestrum -exec -p Path -m MsgType [-f FileName] {-a AttributeName Value }\n"
    "       e.g. kestrum -exec -p /opt/kestrum -m Authorization -f ./exec.log -a ATTRIBUTES\n"
    "\n"
    "\n"
    "\n"
    "RETURN VALUES:\n"
    "-------------\n"
    "   kestrum returns 0 on success, 1 on wrong usage, else the error code\n"
    "   returned by the Kestrum API.\n"
    ;

#undef KESTRUM_SETUP_URL

// The options, one descriptor each; g_last ends every list.
KestrumOption g_path = {"--path", "-p", nullptr};
KestrumOption g_serverURL = {"--serverurl", "-r", nullptr};
KestrumOption g_userName = {"--username", "-u", nullptr};
KestrumOption g_password = {"--password", "-w", nullptr};
KestrumOption g_signature = {"--signature", "-s", nullptr};
KestrumOption g_data = {"--data", "-d", nullptr};
KestrumOption g_token = {"--token", "-t", nullptr};
KestrumOption g_id = {"--identifier", "-i", nullptr};
KestrumOption g_messageType = {"--messagetype", "-m", nullptr};
KestrumOption g_fileName = {"--filename", "-f", nullptr};
KestrumOption g_last = {nullptr, nullptr, nullptr};

// Attribute pairs in command-line order, then the end marker.
KestrumPair g_pairs[kKestrumMaxPairs + 1];

// The file that -conf and -attr write default attributes into.
const char kDefaultsFile[] = "default.xml";

// Size of the buffer the error text is looked up into.
constexpr long kErrorTextSize = 1024;

// The operating system's error number as the result of a failed file or stream operation. A
// failure never becomes 0: without an error number it is reported as a file I/O error.
long OsError(int error)
{
  return error != 0 ? error : TBX_E_FILE_IO;
}

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

// The second line of the error report: the reason, when it says more than the code's text.
void ReportReason(long code, const char* text, const std::string& reason)
{
  char bare[32];
  std::snprintf(bare, sizeof bare, "ErrorCode = 0x%lx", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  if (reason.empty() || reason == text || reason == bare)
    return;
  std::fprintf(stderr, "[kestrum] %s\n", Printable(reason).c_str());
}

// The system's text for an error number a file operation of the utility returned.
std::string SystemReason(long code)
{
  return code > 0 ? std::strerror(static_cast<int>(code)) : "input/output error";
}

// The error report. `fromLibrary`: the code comes from the call into the library just made, so the
// library's last error message belongs to it; `reason` is the utility's own, or what to put before
// the library's ("FILE: ").
void ReportError(long code, bool fromLibrary, const std::string& reason = std::string())
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
  if (fromLibrary) {
    const std::string message = LibraryReason();
    ReportReason(code, text, message.empty() ? message : reason + message);
  } else {
    ReportReason(code, text, reason);
  }
}

// A library call's result; a failure gets the error report.
long Check(long result)
{
  if (result != TBX_OK)
    ReportError(result, true);
  return result;
}

// Handles obtained during a command, destroyed at its end whatever happened.
struct Handles
{
  void* setup = nullptr;
  void* factory = nullptr;
  void* message = nullptr;
  void* stored = nullptr;
  void* response = nullptr;

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles()
  {
    DestroyMessageObject(response);
    DestroyMessageObject(stored);
    DestroyMessageObject(message);
    DestroyMessageFactory(factory);
    DestroyConfigurationSetup(setup);
  }
};

// Writes text to standard output; a stream that fails (closed, disk full) is a failure, not a
// silently cut result.
long WriteOut(const char* text)
{
  errno = 0;
  if (std::fputs(text, stdout) == EOF || std::fflush(stdout) != 0)
    return OsError(errno);
  return TBX_OK;
}

// Measures and fetches the text of a message. `fromLibrary` tells a failed library call from a
// failed allocation.
long FetchText(void* message, std::unique_ptr<char[]>& text, bool& fromLibrary)
{
  fromLibrary = true;
  long length = 0;
  long result = MessageObject_ToString(message, &length, nullptr);
  if (result != TBX_E_BUFFER_TOO_SMALL && result != TBX_OK)
    return result;
  text.reset(new (std::nothrow) char[static_cast<size_t>(length)]);
  if (!text) {
    fromLibrary = false;
    return TBX_E_OUT_OF_MEMORY;
  }
  return MessageObject_ToString(message, &length, text.get());
}

long PrintMessage(void* message, bool& fromLibrary)
{
  std::unique_ptr<char[]> text;
  long result = FetchText(message, text, fromLibrary);
  if (result != TBX_OK)
    return result;
  fromLibrary = false;
  return WriteOut(text.get());
}

// Writes all of `size` bytes; false with errno set otherwise.
bool WriteAll(int fd, const char* data, size_t size)
{
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Writes `size` bytes of `data` over the contents of `path`, in place.
long WriteInPlace(const char* path, const char* data, size_t size)
{
  errno = 0;
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr)
    return OsError(errno);
  const bool written = std::fwrite(data, 1, size, file) == size;
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written)
    return OsError(written ? errno : writeError);
  return TBX_OK;
}

// Replaces the contents of `path` with `size` bytes of `data`. A regular file (or a new one) is
// replaced through a temporary file in the same directory and a rename, so a failed write leaves
// the previous content rather than a cut message. Anything else (a device, a pipe, a symbolic
// link), and an existing file in a directory where no temporary file can be made, is written in
// place. The result is 0 or the operating system's error number.
long SaveText(const char* path, const char* data, size_t size)
{
  struct stat st;
  const bool exists = ::lstat(path, &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    return WriteInPlace(path, data, size);
  // A file that may not be written stays as it is, as opening it for writing would refuse.
  errno = 0;
  if (exists && ::access(path, W_OK) != 0)
    return OsError(errno);

  const std::string temporary = std::string(path) + ".kestrum-" + std::to_string(::getpid()) + ".tmp";
  errno = 0;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0)
    return exists ? WriteInPlace(path, data, size) : OsError(errno);
  bool ok = (!exists || ::fchmod(fd, st.st_mode & 07777) == 0) && WriteAll(fd, data, size) &&
            ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && ::rename(temporary.c_str(), path) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return OsError(error);
  }
  return TBX_OK;
}

long SaveMessage(void* message, const char* path, bool& fromLibrary)
{
  std::unique_ptr<char[]> text;
  long result = FetchText(message, text, fromLibrary);
  if (result != TBX_OK)
    return result;
  fromLibrary = false;
  return SaveText(path, text.get(), std::strlen(text.get()));
}

// Loads a saved message into an opened message object. A failure of the utility's own gets its
// reason in `reason`.
long LoadMessage(void* message, const char* path, bool& fromLibrary, std::string& reason)
{
  fromLibrary = false;
  reason = std::string("cannot read the saved message ") + path + ": ";
  errno = 0;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    reason += SystemReason(OsError(errno));
    return TBX_E_FILE_NOT_FOUND;
  }
  errno = 0;
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0)
    size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    const long result = OsError(errno);
    std::fclose(file);
    reason += SystemReason(result);
    return result;
  }
  std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
  if (!text) {
    std::fclose(file);
    return TBX_E_OUT_OF_MEMORY;
  }
  errno = 0;
  const size_t read = std::fread(text.get(), 1, static_cast<size_t>(size), file);
  const int readError = errno;
  std::fclose(file);
  if (read != static_cast<size_t>(size)) {
    reason += SystemReason(OsError(readError));
    return OsError(readError);
  }
  text[read] = '\0';
  fromLibrary = true;
  reason = std::string(path) + ": ";
  return MessageObject_FromString(message, text.get());
}

// Measures and fetches one attribute of a message; failures get the error report.
long FetchAttribute(void* message, const char* name, std::unique_ptr<char[]>& value)
{
  long length = 0;
  long result = MessageObject_GetAttribute(message, name, &length, nullptr);
  if (result != TBX_E_BUFFER_TOO_SMALL && result != TBX_OK)
    return Check(result);
  value.reset(new (std::nothrow) char[static_cast<size_t>(length)]);
  if (!value)
    return TBX_E_OUT_OF_MEMORY;
  return Check(MessageObject_GetAttribute(message, name, &length, value.get()));
}

long OpenFactory(Handles& h)
{
  h.factory = CreateMessageFactory();
  if (h.factory == nullptr)
    return TBX_E_OUT_OF_MEMORY;
  return Check(MessageFactory_Open(h.factory, g_path.m_Value));
}

long SetMessagePairs(void* message)
{
  for (const KestrumPair* pair = g_pairs; pair->m_Name != nullptr; ++pair) {
    const long result = Check(MessageObject_SetAttribute(message, pair->m_Name, pair->m_Value));
    if (result != TBX_OK)
      return result;
  }
  return TBX_OK;
}

// -conf (with the set-up against the host) and -attr (defaults only).
long RunConfiguration(bool reconfigure)
{
  Handles h;
  h.setup = CreateConfigurationSetup();
  if (h.setup == nullptr)
    return TBX_E_OUT_OF_MEMORY;
  long result = Check(ConfigurationSetup_SetConfiguration(h.setup, g_path.m_Value));
  if (result != TBX_OK)
    return result;
  if (reconfigure) {
    result = Check(ConfigurationSetup_Reconfigure(h.setup, g_serverURL.m_Value, g_userName.m_Value,
                                                  g_password.m_Value));
    if (result != TBX_OK)
      return result;
  }
  for (const KestrumPair* pair = g_pairs; pair->m_Name != nullptr; ++pair) {
    result = Check(ConfigurationSetup_SetAttribute(h.setup, kDefaultsFile, pair->m_Name, pair->m_Value));
    if (result != TBX_OK)
      return result;
  }
  return TBX_OK;
}

long RunConf()
{
  return RunConfiguration(true);
}

long RunAttr()
{
  return RunConfiguration(false);
}

long RunPayInit()
{
  Handles h;
  long result = OpenFactory(h);
  if (result == TBX_OK)
    result = Check(MessageFactory_CreatePayInit(h.factory, &h.message));
  if (result == TBX_OK)
    result = SetMessagePairs(h.message);
  if (result != TBX_OK)
    return result;

  long length = 1;
  result = MessageObject_GetURL(h.message, &length, nullptr);
  if (result != TBX_E_BUFFER_TOO_SMALL && result != TBX_OK)
    return Check(result);
  std::unique_ptr<char[]> url(new (std::nothrow) char[static_cast<size_t>(length)]);
  if (!url)
    return TBX_E_OUT_OF_MEMORY;
  result = Check(MessageObject_GetURL(h.message, &length, url.get()));
  if (result != TBX_OK)
    return result;
  return WriteOut(url.get());
}

long RunPayConfirm()
{
  Handles h;
  long result = OpenFactory(h);
  if (result == TBX_OK)
    result = Check(MessageFactory_VerifyPayConfirm(h.factory, g_data.m_Value, g_signature.m_Value,
                                                   &h.message));
  if (result != TBX_OK)
    return result;
  bool fromLibrary = false;
  if (g_fileName.m_Value != nullptr)
    return SaveMessage(h.message, g_fileName.m_Value, fromLibrary);
  return PrintMessage(h.message, fromLibrary);
}

long ArgumentError(const char* message)
{
  std::fputs(message, stderr);
  return TBX_E_INVALID_ARGUMENT;
}

long RunCapture()
{
  if (g_id.m_Value == nullptr && g_fileName.m_Value == nullptr)
    return ArgumentError("ERROR: missing argument --identifier\n");
  if (g_token.m_Value == nullptr && g_fileName.m_Value == nullptr)
    return ArgumentError("ERROR: missing argument --token\n");
  if (g_fileName.m_Value != nullptr && (g_id.m_Value != nullptr || g_token.m_Value != nullptr))
    return ArgumentError("ERROR: specify either --filename or --identifier and --token\n");

  Handles h;
  long result = OpenFactory(h);
  if (result != TBX_OK)
    return result;

  const char* id = g_id.m_Value;
  const char* token = g_token.m_Value;
  std::unique_ptr<char[]> storedId, storedToken;
  if (g_fileName.m_Value != nullptr) {
    h.stored = CreateMessageObject();
    if (h.stored == nullptr)
      return TBX_E_OUT_OF_MEMORY;
    result = Check(MessageObject_Open(h.stored, g_path.m_Value));
    if (result != TBX_OK)
      return result;
    bool fromLibrary = false;
    std::string reason;
    result = LoadMessage(h.stored, g_fileName.m_Value, fromLibrary, reason);
    if (result != TBX_OK) {
      ReportError(result, fromLibrary, result == TBX_E_OUT_OF_MEMORY ? std::string() : reason);
      return result;
    }
    result = FetchAttribute(h.stored, "TOKEN", storedToken);
    if (result == TBX_OK)
      result = FetchAttribute(h.stored, "ID", storedId);
    if (result != TBX_OK)
      return result;
    DestroyMessageObject(h.stored);
    h.stored = nullptr;
    id = storedId.get();
    token = storedToken.get();
  }

  result = Check(MessageFactory_CreatePayComplete(h.factory, id, token, &h.message));
  if (result == TBX_OK)
    result = SetMessagePairs(h.message);
  if (result == TBX_OK)
    result = Check(MessageObject_Capture(h.message));
  return result;
}

long RunExec()
{
  Handles h;
  long result = OpenFactory(h);
  if (result == TBX_OK)
    result = Check(MessageFactory_CreateRequest(h.factory, g_messageType.m_Value, &h.message));
  if (result == TBX_OK)
    result = SetMessagePairs(h.message);
  if (result == TBX_OK)
    result = Check(MessageObject_Execute(h.message, &h.response));
  if (result != TBX_OK)
    return result;
  bool fromLibrary = false;
  result = g_fileName.m_Value != nullptr ? SaveMessage(h.response, g_fileName.m_Value, fromLibrary)
                                         : PrintMessage(h.response, fromLibrary);
  if (result != TBX_OK && !fromLibrary && result != TBX_E_OUT_OF_MEMORY) {
    const std::string where =
        g_fileName.m_Value != nullptr ? g_fileName.m_Value : std::string("standard output");
    ReportError(result, false,
                "cannot write the response to " + where + ": " + SystemReason(result));
  } else if (result != TBX_OK) {
    ReportError(result, fromLibrary);
  }
  return result;
}

KestrumOption* const kNone[] = {&g_last};
KestrumOption* const kPathOnly[] = {&g_path, &g_last};
KestrumOption* const kConfRequired[] = {&g_path, &g_serverURL, &g_userName, &g_password, &g_last};
KestrumOption* const kPayConfirmRequired[] = {&g_path, &g_data, &g_signature, &g_last};
KestrumOption* const kFileOnly[] = {&g_fileName, &g_last};
KestrumOption* const kCaptOptional[] = {&g_fileName, &g_id, &g_token, &g_last};
KestrumOption* const kExecRequired[] = {&g_path, &g_messageType, &g_last};

struct Command
{
  const char* name;
  KestrumOption* const* required;
  KestrumOption* const* optional;
  bool pairs;
  long (*run)();
};

const Command kCommands[] = {
  {"-conf", kConfRequired, kNone, true, RunConf},
  {"-attr", kPathOnly, kNone, true, RunAttr},
  {"-payinit", kPathOnly, kNone, true, RunPayInit},
  {"-payconfirm", kPayConfirmRequired, kFileOnly, false, RunPayConfirm},
  {"-capt", kPathOnly, kCaptOptional, true, RunCapture},
  {"-exec", kExecRequired, kFileOnly, true, RunExec},
};

const char* Environment(const char* name)
{
  return std::getenv(name);
}

// The exit status of a result: 0 only for success. The system keeps the low 8 bits of what main
// returns, so a failure whose low byte is 0 would read as success: it becomes 255.
int ExitStatus(long result)
{
  if (result == TBX_OK)
    return 0;
  if ((result & 0xFF) == 0)
    return 255;
  return static_cast<int>(result);
}

int Run(int argc, char** argv)
{
  if (argc < 2) {
    std::fputs("Error: not enough parameters specified;\n", stderr);
    std::fputs("type kestrum -h to view usage\n", stderr);
    return 1;
  }
  const char* name = argv[1];
  if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 1;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(name, command.name) != 0)
      continue;
    const KestrumCommandArgs args = {command.required, command.optional,
                                     command.pairs ? g_pairs : nullptr};
    std::string error;
    if (KestrumParseArguments(argc, argv, args, Environment, error) != TBX_OK) {
      std::fputs(error.c_str(), stderr);
      return ExitStatus(TBX_E_INVALID_ARGUMENT);
    }
    return ExitStatus(command.run());
  }
  std::fprintf(stderr, "unknown option %s\n", name);
  return 1;
}

} // namespace

int main(int argc, char** argv)
{
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return ExitStatus(TBX_E_OUT_OF_MEMORY);
  }
}
