// kestrum: one command per operation of the Kestrum application component. Uses the public C
// interface only, like any customer of the library.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "kestrum_args.h"
#include "kestrum_report.h"
#include "kestrum_text.h"
#include "kestrum_usage.h"
#include "tbxapp.h"

namespace {

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
    result =
        Check(ConfigurationSetup_SetAttribute(h.setup, kDefaultsFile, pair->m_Name, pair->m_Value));
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

  std::unique_ptr<char[]> url;
  result = FetchURL(h.message, url);
  if (result != TBX_OK)
    return result;
  return WriteOut(url.get());
}

// The value the last pair named `name` expects, or null.
const char* Expected(const char* name)
{
  const char* value = nullptr;
  for (const KestrumPair* pair = g_pairs; pair->m_Name != nullptr; ++pair)
    if (std::strcmp(pair->m_Name, name) == 0)
      value = pair->m_Value;
  return value;
}

// The attributes the library itself binds a confirmation to, when all three are expected.
bool IsOrderTerm(const char* name)
{
  return std::strcmp(name, "TOKEN") == 0 || std::strcmp(name, "AMOUNT") == 0 ||
         std::strcmp(name, "CURRENCY") == 0;
}

// Every expected pair the library did not check, against the verified confirmation, in the
// library's words: a TOKEN is named, never shown.
long CheckExpectations(void* confirmation, bool orderChecked)
{
  for (const KestrumPair* pair = g_pairs; pair->m_Name != nullptr; ++pair) {
    if (orderChecked && IsOrderTerm(pair->m_Name))
      continue;
    const std::string name = pair->m_Name;
    const std::string expected = pair->m_Value;
    long length = 0;
    long result = MessageObject_GetAttribute(confirmation, pair->m_Name, &length, nullptr);
    std::string actual;
    if (result == TBX_E_BUFFER_TOO_SMALL && length > 0) {
      actual.assign(static_cast<size_t>(length), '\0');
      result = MessageObject_GetAttribute(confirmation, pair->m_Name, &length, &actual[0]);
      actual.resize(static_cast<size_t>(length > 0 ? length - 1 : 0));
    }
    if (result != TBX_OK && result != TBX_E_ITEM_NOT_FOUND)
      return Check(result);
    const bool secret = name == "TOKEN";
    std::string reason;
    if (result == TBX_E_ITEM_NOT_FOUND)
      reason = "the confirmation carries no " + name + "; the order's " + name + " is " +
               (secret ? std::string("set") : "'" + expected + "'");
    else if (actual != expected)
      reason = secret ? "the confirmation's TOKEN is not the order's; it pays another order"
                      : "the confirmation's " + name + " is '" + actual + "', the order's is '" +
                            expected + "'";
    if (!reason.empty()) {
      // Composed as the library composes its own refusals.
      ReportError(TBX_E_ORDER_MISMATCH, false,
                  "confirmation does not match the order (" + reason + ")");
      return TBX_E_ORDER_MISMATCH;
    }
  }
  return TBX_OK;
}

// Verifies the confirmation, and with "-a NAME VALUE" pairs that it carries those values: TOKEN,
// AMOUNT and CURRENCY together are checked by the library, any other pair here.
long RunPayConfirm()
{
  Handles h;
  long result = OpenFactory(h);
  if (result != TBX_OK)
    return result;
  const char* token = Expected("TOKEN");
  const char* amount = Expected("AMOUNT");
  const char* currency = Expected("CURRENCY");
  const bool forOrder = token != nullptr && amount != nullptr && currency != nullptr;
  if (forOrder)
    result = Check(MessageFactory_VerifyPayConfirmForOrder(
        h.factory, g_data.m_Value, g_signature.m_Value, token, amount, currency, &h.message));
  else
    result = Check(MessageFactory_VerifyPayConfirm(h.factory, g_data.m_Value, g_signature.m_Value,
                                                   &h.message));
  if (result == TBX_OK)
    result = CheckExpectations(h.message, forOrder);
  if (result != TBX_OK)
    return result;
  bool fromLibrary = false;
  return WriteMessage(h.message, g_fileName.m_Value, fromLibrary);
}

// What the caller of a failed exchange should do: when its request went out and its answer was
// lost, and when it never went out.
const char kCaptureWhenSent[] =
    "the request was sent and its answer lost: the payment may be captured; ask the host for its "
    "state before capturing again";
const char kRequestWhenSent[] =
    "the request was sent and its answer lost: the host may have acted on it; ask the host for "
    "the state before sending it again";
const char kWhenNotSent[] = "the request was not sent: it can be repeated";

// An answer arrived and said no: the library's reason says it all.
bool HostAnswered(long result)
{
  const unsigned long code = static_cast<unsigned long>(result) & 0xFFFFFFFFul;
  return result == TBX_E_HOST_ERROR ||
         (code >= (TBX_E_HTTP_STATUS_BASE | 100u) && code <= (TBX_E_HTTP_STATUS_BASE | 599u));
}

// Check for an exchange with the host: a failure in the transport gets a second line saying
// whether the request went out (`whenSent`) or not, before the library's reason.
long CheckSent(long result, const char* whenSent)
{
  if (result == TBX_OK)
    return result;
  const long sent = TBX_LastRequestWasSent();
  if (sent < 0 || HostAnswered(result))
    return Check(result);
  ReportError(result, true, std::string(), sent == 1 ? whenSent : kWhenNotSent);
  return result;
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
    result = CheckSent(MessageObject_Capture(h.message), kCaptureWhenSent);
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
    result = CheckSent(MessageObject_Execute(h.message, &h.response), kRequestWhenSent);
  if (result != TBX_OK)
    return result;
  bool fromLibrary = false;
  result = WriteMessage(h.response, g_fileName.m_Value, fromLibrary);
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
    {"-payconfirm", kPayConfirmRequired, kFileOnly, true, RunPayConfirm},
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
    std::fputs(kKestrumUsage, stdout);
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
    ReportStore(g_path.m_Value);
    return ExitStatus(command.run());
  }
  std::fprintf(stderr, "unknown option %s\n", name);
  return 1;
}

}  // namespace

int main(int argc, char** argv)
{
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return ExitStatus(TBX_E_OUT_OF_MEMORY);
  }
}
