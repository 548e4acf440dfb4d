// Set-up of stores against the sandbox host (a separate process on 127.0.0.1), through the
// configuration setup C API and the context operations it runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include <string>
#include <vector>

#include "../http/loopback_server.h"
#include "sandbox_fixture.h"
#include "test_store.h"
#include "tbxapp.h"
#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxgate.h"
#include "tbxkeys.h"
#include "tbxutil.h"

using namespace setuptest;

namespace {

template <class F>
long CodeOf(F body)
{
  try {
    body();
    return TBX_OK;
  } catch (const TBX_Exception& e) {
    return e.m_Result;
  }
}

std::string LastErrorMessage()
{
  long length = 0;
  TBX_GetLastErrorMessage(&length, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  if (TBX_GetLastErrorMessage(&length, &text[0]) != TBX_OK)
    return "<unreadable>";
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

bool IsHex32(const std::string& s)
{
  return s.size() == 32 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

mode_t ModeOf(const std::string& path)
{
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// A configuration setup handle bound to a store.
class SetupHandle
{
public:
  explicit SetupHandle(const std::string& store) : m_Handle(CreateConfigurationSetup())
  {
    m_Bound = m_Handle != nullptr &&
              ConfigurationSetup_SetConfiguration(m_Handle, store.c_str()) == TBX_OK;
  }
  ~SetupHandle() { DestroyConfigurationSetup(m_Handle); }
  SetupHandle(const SetupHandle&) = delete;
  SetupHandle& operator=(const SetupHandle&) = delete;
  void* get() const { return m_Handle; }
  bool bound() const { return m_Bound; }

private:
  void* m_Handle;
  bool m_Bound;
};

class SetupTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(m_Host.Start()) << "kestrum-sandbox did not start";
    ASSERT_FALSE(m_Dir.path().empty());
    m_Store = m_Dir.path() + "/store";
  }
  void TearDown() override { EXPECT_EQ(0, m_Host.Stop()); }

  // ConfigurationSetup_Reconfigure with the sandbox account on a fresh handle.
  long Reconfigure(const std::string& serverUrl, const char* password = kPassword)
  {
    SetupHandle setup(m_Store);
    if (!setup.bound())
      return TBX_E_UNEXPECTED;
    return ConfigurationSetup_Reconfigure(setup.get(), serverUrl.c_str(), kUser, password);
  }

  std::string Current() const { return FileText(m_Store + "/keys/current"); }
  std::string Config(const std::string& name) const
  {
    return AttributeOf(FileText(m_Store + "/config.xml"), name);
  }

  Sandbox m_Host;
  TempDir m_Dir;
  std::string m_Store;
};

TEST_F(SetupTest, FreshStoreGetsEveryFileInFourExchanges)
{
  ASSERT_EQ(TBX_OK, Reconfigure(m_Host.setupUrl())) << LastErrorMessage();

  const std::vector<std::string> log = m_Host.TakeSetupLog();
  ASSERT_EQ(4u, log.size());
  const char* const order[] = {"SetupRequest", "LoadDefaultsRequest", "KeyQueryRequest",
                               "KeyExportRequest"};
  for (size_t i = 0; i < 4; ++i)
    EXPECT_EQ(order[i], AttributeOf(log[i], "MSGTYPE")) << log[i];
  EXPECT_EQ("0", AttributeOf(log[0], "VERSION"));

  // config.xml and default.xml are the host's answers as received.
  const std::string config = FileText(m_Store + "/config.xml");
  EXPECT_EQ("SetupResponse", AttributeOf(config, "MSGTYPE"));
  EXPECT_EQ(m_Host.setupUrl(), AttributeOf(config, "TBX.VTAUTOURL"));
  EXPECT_EQ(m_Host.url() + "/capture", AttributeOf(config, "CAPTUREURL"));
  EXPECT_EQ("yes", AttributeOf(FileText(m_Store + "/default.xml"), "TBX.ISVALID"));

  const std::string hostKey = Config("VTKEYID");
  ASSERT_FALSE(hostKey.empty());
  EXPECT_EQ(hostKey, AttributeOf(log[2], "KEYID"));
  EXPECT_TRUE(TBX_Context::IsPublicKeyText(FileText(m_Store + "/keys/public/" + hostKey).c_str()));

  // The new key: "0-" CUSTOMERID "-" 32 hex digits, both halves stored, published and current.
  const std::string current = Current();
  const std::string prefix = "0-" + Config("CUSTOMERID") + "-";
  ASSERT_EQ(0u, current.find(prefix)) << current;
  EXPECT_TRUE(IsHex32(current.substr(prefix.size()))) << current;
  EXPECT_EQ(current, AttributeOf(log[3], "KEYID"));
  EXPECT_EQ(FileText(m_Store + "/keys/public/" + current), AttributeOf(log[3], "KEYBLOB"));
  EXPECT_EQ(0700u, ModeOf(m_Store + "/keys/private"));
  EXPECT_EQ(0600u, ModeOf(m_Store + "/keys/private/" + current));

  // The stored pair signs and verifies as one key.
  TBX_Context context;
  context.Open(m_Store.c_str());
  MvString signature;
  context.SignData("<TBX/>", current.c_str(), signature);
  EXPECT_EQ(TBX_OK, CodeOf([&] { context.VerifyData("<TBX/>", current.c_str(), signature); }));
}

TEST_F(SetupTest, SecondRunSendsStoredVersionAndSkipsValidDefaults)
{
  ASSERT_EQ(TBX_OK, Reconfigure(m_Host.setupUrl())) << LastErrorMessage();
  const std::string first = Current();
  const std::string version = Config("VERSION");
  ASSERT_FALSE(version.empty());
  m_Host.TakeSetupLog();

  // No server URL: the endpoint comes from the store.
  ASSERT_EQ(TBX_OK, Reconfigure("")) << LastErrorMessage();
  const std::vector<std::string> log = m_Host.TakeSetupLog();
  ASSERT_EQ(3u, log.size());
  EXPECT_EQ("SetupRequest", AttributeOf(log[0], "MSGTYPE"));
  EXPECT_EQ(version, AttributeOf(log[0], "VERSION"));
  EXPECT_EQ("KeyQueryRequest", AttributeOf(log[1], "MSGTYPE"));
  EXPECT_EQ("KeyExportRequest", AttributeOf(log[2], "MSGTYPE"));

  // A new pair each time; the old one stays in the store.
  EXPECT_NE(first, Current());
  EXPECT_TRUE(Exists(m_Store + "/keys/private/" + first));
  EXPECT_TRUE(Exists(m_Store + "/keys/public/" + first));
}

TEST_F(SetupTest, DefaultsReloadUnlessMarkedExactlyYes)
{
  ASSERT_EQ(TBX_OK, Reconfigure(m_Host.setupUrl())) << LastErrorMessage();
  struct Case
  {
    const char* isValid;
    bool reloads;
  } cases[] = {{"YES", true}, {"no", true}, {"yes ", true}, {"yes", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.isValid);
    SetupHandle setup(m_Store);
    ASSERT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(setup.get(), "default.xml", "TBX.ISVALID",
                                                      c.isValid));
    m_Host.TakeSetupLog();
    ASSERT_EQ(TBX_OK, ConfigurationSetup_Reconfigure(setup.get(), "", kUser, kPassword))
        << LastErrorMessage();
    const std::vector<std::string> types = m_Host.TakeSetupTypes();
    ASSERT_EQ(c.reloads ? 4u : 3u, types.size());
    EXPECT_EQ(c.reloads, types[1] == "LoadDefaultsRequest");
  }
}

// A failing exchange: the code, the reason, and which files the steps before it left.
TEST_F(SetupTest, HostRefusalsStopTheSetUpWhereTheyHappen)
{
  struct Case
  {
    const char* fault;
    long code;
    const char* reason;      // expected in the last error message
    const char* filesAfter;  // "c" config.xml, "d" default.xml, "h" host key, "k" key pair
  } cases[] = {
      {"MODE=error&MATCH=SetupRequest&MESSAGE=account+locked", TBX_E_HOST_ERROR, "account locked",
       ""},
      {"MODE=error&MATCH=LoadDefaultsRequest&MESSAGE=no+defaults", TBX_E_HOST_ERROR, "no defaults",
       "c"},
      {"MODE=error&MATCH=KeyQueryRequest&MESSAGE=key+gone", TBX_E_HOST_ERROR, "key gone", "cd"},
      {"MODE=error&MATCH=KeyExportRequest&MESSAGE=refused", TBX_E_HOST_ERROR, "refused", "cdhk"},
      {"MODE=msgtype&MATCH=SetupRequest&TYPE=Other", TBX_E_REQUEST_FAILED,
       "received 'Other', expected 'SetupResponse'", ""},
      {"MODE=notxml&MATCH=KeyQueryRequest", TBX_E_INVALID_FORMAT, "", "cd"},
      {"MODE=status&MATCH=LoadDefaultsRequest&STATUS=503", TBX_RESULT(0x800421F7u), "", "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    TempDir dir;
    m_Store = dir.path() + "/store";
    ASSERT_TRUE(m_Host.Fault(c.fault));
    EXPECT_EQ(c.code, Reconfigure(m_Host.setupUrl()));
    EXPECT_NE(std::string::npos, LastErrorMessage().find(c.reason)) << LastErrorMessage();
    const std::string files = c.filesAfter;
    EXPECT_EQ(files.find('c') != std::string::npos, Exists(m_Store + "/config.xml"));
    EXPECT_EQ(files.find('d') != std::string::npos, Exists(m_Store + "/default.xml"));
    // keys/public holds the host key and the new public key, keys/private the new private key.
    const size_t publicKeys = (files.find('h') != std::string::npos ? 1 : 0) +
                              (files.find('k') != std::string::npos ? 1 : 0);
    EXPECT_EQ(publicKeys, ListDir(m_Store + "/keys/public").size());
    EXPECT_EQ(files.find('k') != std::string::npos ? 1u : 0u,
              ListDir(m_Store + "/keys/private").size());
    EXPECT_FALSE(Exists(m_Store + "/keys/current"));
    m_Host.Fault("MODE=clear");
    m_Host.TakeSetupLog();
  }
}

TEST_F(SetupTest, FailedPublishKeepsNewKeyFilesAndOldCurrentKey)
{
  ASSERT_EQ(TBX_OK, Reconfigure(m_Host.setupUrl())) << LastErrorMessage();
  const std::string old = Current();
  const std::vector<std::string> before = ListDir(m_Store + "/keys/private");

  ASSERT_TRUE(m_Host.Fault("MODE=error&MATCH=KeyExportRequest&MESSAGE=registry+offline"));
  EXPECT_EQ(TBX_E_HOST_ERROR, Reconfigure(""));
  EXPECT_NE(std::string::npos, LastErrorMessage().find("registry offline"));

  EXPECT_EQ(old, Current());
  const std::vector<std::string> after = ListDir(m_Store + "/keys/private");
  ASSERT_EQ(before.size() + 1, after.size());
  for (const std::string& id : after) {
    EXPECT_TRUE(Exists(m_Store + "/keys/public/" + id)) << id;
  }

  // The next run publishes a key again.
  ASSERT_EQ(TBX_OK, Reconfigure("")) << LastErrorMessage();
  EXPECT_NE(old, Current());
}

TEST_F(SetupTest, WrongPasswordIsTheHostsHttpRefusal)
{
  EXPECT_EQ(TBX_RESULT(0x80042191u), Reconfigure(m_Host.setupUrl(), "wrong"));
  EXPECT_FALSE(Exists(m_Store + "/config.xml"));
}

TEST_F(SetupTest, ConfigurationValuesRoundTripThroughTheCApi)
{
  ASSERT_EQ(TBX_OK, Reconfigure(m_Host.setupUrl())) << LastErrorMessage();
  SetupHandle setup(m_Store);

  ASSERT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(setup.get(), "default.xml", "LANGID", "de"));
  long length = 0;
  EXPECT_EQ(TBX_E_BUFFER_TOO_SMALL, ConfigurationSetup_GetAttribute(setup.get(), "default.xml",
                                                                    "LANGID", &length, nullptr));
  EXPECT_EQ(3, length);
  char buffer[3] = {'x', 'x', 'x'};
  ASSERT_EQ(TBX_OK,
            ConfigurationSetup_GetAttribute(setup.get(), "default.xml", "LANGID", &length, buffer));
  EXPECT_STREQ("de", buffer);
  EXPECT_EQ(TBX_E_BUFFER_TOO_SMALL,
            ConfigurationSetup_GetAttribute(setup.get(), "default.xml", "LANGID", nullptr, buffer));

  // Values that write nothing: empty or null value, a name the file could not hold.
  const std::string before = FileText(m_Store + "/default.xml");
  EXPECT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(setup.get(), "default.xml", "LANGID", ""));
  EXPECT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(setup.get(), "default.xml", "LANGID", nullptr));
  for (const char* name : {"", "A B", "X\"/><Y", "L&T", "N=1"}) {
    EXPECT_EQ(TBX_E_INVALID_ARGUMENT,
              ConfigurationSetup_SetAttribute(setup.get(), "default.xml", name, "v"))
        << name;
  }
  EXPECT_EQ(before, FileText(m_Store + "/default.xml"));

  // Only the store's own files: no absolute name, no ".." anywhere in it.
  for (const char* file : {"/etc/passwd", "..", "../default.xml", "keys/../../x", "a/.."}) {
    EXPECT_EQ(TBX_E_INVALID_ARGUMENT,
              ConfigurationSetup_GetAttribute(setup.get(), file, "A", &length, buffer))
        << file;
    EXPECT_EQ(TBX_E_INVALID_ARGUMENT, ConfigurationSetup_SetAttribute(setup.get(), file, "A", "v"))
        << file;
  }

  length = 77;
  EXPECT_EQ(TBX_E_ITEM_NOT_FOUND,
            ConfigurationSetup_GetAttribute(setup.get(), "default.xml", "NOSUCH", &length, buffer));
  EXPECT_EQ(77, length);
  EXPECT_EQ(TBX_E_INVALID_FORMAT,
            ConfigurationSetup_SetAttribute(setup.get(), "missing.xml", "A", "v"));
  EXPECT_FALSE(Exists(m_Store + "/missing.xml"));
  EXPECT_EQ(TBX_E_INVALID_OPTION, ConfigurationSetup_SetOption(setup.get(), "username", "u"));
  EXPECT_EQ(TBX_OK, ConfigurationSetup_SetOption(setup.get(), "UserName", "u"));
}

// Over https the host's certificate is checked against the CA the store names.
TEST(SetupTls, SetUpOverHttpsNeedsTheHostsCa)
{
  Sandbox host;
  ASSERT_TRUE(host.Start(true));
  ASSERT_EQ(0u, host.url().find("https://"));
  TempDir dir;
  const std::string store = dir.path() + "/store";
  ::mkdir(store.c_str(), 0777);

  SetupHandle setup(store);
  const long refused =
      ConfigurationSetup_Reconfigure(setup.get(), host.setupUrl().c_str(), kUser, kPassword);
  EXPECT_EQ(TBX_E_TLS_BASE, static_cast<unsigned long>(refused) & 0xFFFFF000ul)
      << std::hex << refused << " " << LastErrorMessage();
  EXPECT_FALSE(Exists(store + "/config.xml"));

  WriteFile(store + "/settings.xml", "<TBX SSLCAFILE=\"" + host.caFile() + "\"/>");
  EXPECT_EQ(TBX_OK,
            ConfigurationSetup_Reconfigure(setup.get(), host.setupUrl().c_str(), kUser, kPassword))
      << LastErrorMessage();
  EXPECT_EQ(0u, AttributeOf(FileText(store + "/config.xml"), "CAPTUREURL").find("https://"));
  EXPECT_FALSE(FileText(store + "/keys/current").empty());
  EXPECT_EQ(0, host.Stop());
}

}  // namespace

// ---- Without the sandbox: the gate, missing endpoints, and what a forged answer may not do. ----

namespace {

TEST(SetupApi, HandlesAreCheckedBeforeAnyWork)
{
  void* setup = CreateConfigurationSetup();
  ASSERT_NE(nullptr, setup);
  const unsigned long live = TBX_HandleRegistry::Count(TBX_HANDLE_CONFIGURATION_SETUP);
  DestroyConfigurationSetup(setup);
  EXPECT_EQ(live - 1, TBX_HandleRegistry::Count(TBX_HANDLE_CONFIGURATION_SETUP));
  DestroyConfigurationSetup(setup);  // a second destroy is ignored
  DestroyConfigurationSetup(nullptr);

  int notAnObject = 0;
  long length = 64;
  char buffer[64];
  for (void* handle : {static_cast<void*>(nullptr), setup, static_cast<void*>(&notAnObject)}) {
    EXPECT_EQ(TBX_E_INVALID_HANDLE, ConfigurationSetup_SetConfiguration(handle, "."));
    EXPECT_EQ(TBX_E_INVALID_HANDLE, ConfigurationSetup_Reconfigure(handle, "", "", ""));
    EXPECT_EQ(TBX_E_INVALID_HANDLE, ConfigurationSetup_SetOption(handle, "UserName", "u"));
    EXPECT_EQ(TBX_E_INVALID_HANDLE,
              ConfigurationSetup_GetAttribute(handle, "config.xml", "VTURL", &length, buffer));
    EXPECT_EQ(TBX_E_INVALID_HANDLE,
              ConfigurationSetup_SetAttribute(handle, "config.xml", "VTURL", "v"));
  }
}

TEST(SetupApi, UnboundObjectAndStoreWithoutEndpoint)
{
  void* setup = CreateConfigurationSetup();
  ASSERT_NE(nullptr, setup);
  EXPECT_EQ(TBX_E_NO_CONTEXT, ConfigurationSetup_Reconfigure(setup, "", "", ""));
  EXPECT_EQ(TBX_E_NO_CONTEXT, ConfigurationSetup_SetAttribute(setup, "default.xml", "A", "v"));

  TempDir dir;
  ASSERT_EQ(TBX_OK, ConfigurationSetup_SetConfiguration(setup, (dir.path() + "/s").c_str()));
  EXPECT_EQ(TBX_E_NO_CONFIGURATION,
            ConfigurationSetup_Reconfigure(setup, nullptr, nullptr, nullptr));
  // The directories come first; nothing else is written.
  EXPECT_EQ("keys/\nkeys/private/\nkeys/public/\n", Snapshot(dir.path() + "/s"));
  // A store whose parent is missing is not created.
  EXPECT_NE(TBX_OK, ConfigurationSetup_SetConfiguration(setup, (dir.path() + "/no/s").c_str()));
  DestroyConfigurationSetup(setup);
}

TEST(SetupApi, FileNamesStayInsideTheStore)
{
  TempDir dir;
  const std::string outside = dir.path() + "/shop.xml";
  WriteFile(outside, "<TBX A=\"1\"/>");
  SetupHandle setup(dir.path() + "/s");
  WriteFile(dir.path() + "/s/default.xml", "<TBX A=\"2\"/>");
  for (const std::string& name :
       {std::string("../shop.xml"), outside, std::string("keys/../../shop.xml"), std::string(".."),
        std::string("x/..")}) {
    SCOPED_TRACE(name);
    long length = 77;
    char buffer[8];
    EXPECT_EQ(TBX_E_INVALID_ARGUMENT,
              ConfigurationSetup_GetAttribute(setup.get(), name.c_str(), "A", &length, buffer));
    EXPECT_EQ(77, length);
    EXPECT_EQ(TBX_E_INVALID_ARGUMENT,
              ConfigurationSetup_SetAttribute(setup.get(), name.c_str(), "A", "3"));
    EXPECT_NE(std::string::npos, LastErrorMessage().find("inside the store")) << LastErrorMessage();
  }
  EXPECT_EQ("<TBX A=\"1\"/>", FileText(outside));
  // Names inside the store, "." included, still reach their file.
  EXPECT_EQ(TBX_OK, ConfigurationSetup_SetAttribute(setup.get(), "./default.xml", "A", "4"));
  long length = 8;
  char buffer[8];
  EXPECT_EQ(TBX_OK,
            ConfigurationSetup_GetAttribute(setup.get(), "default.xml", "A", &length, buffer));
  EXPECT_STREQ("4", buffer);
}

// "code tbxctx:line" of the failure `body` raises, "ok" when it returns.
template <class F>
std::string Raised(F body)
{
  try {
    body();
    return "ok";
  } catch (const TBX_Exception& e) {
    char code[16];
    std::snprintf(code, sizeof code, "%08lx",
                  static_cast<unsigned long>(e.m_Result) & 0xFFFFFFFFul);
    return std::string(code) + " " + e.m_File.c_str() + ":" + std::to_string(e.m_Line);
  }
}

TEST(SetupContext, MissingEndpointsAndUnknownKeys)
{
  TempDir dir;
  TBX_Context context;
  EXPECT_EQ("80040201 tbxctx:642", Raised([&] { context.Reconfigure(); }));
  context.Open(dir.path().c_str());
  MvString id("k");
  EXPECT_EQ("8004020f tbxctx:235", Raised([&] { context.Setup(); }));
  EXPECT_EQ("8004020f tbxctx:279", Raised([&] { context.ImportKey(id); }));
  EXPECT_EQ("8004020a tbxctx:442", Raised([&] { context.LoadDefaults(); }));
  EXPECT_EQ("8004020a tbxctx:504", Raised([&] { context.PublishKey(id); }));
  // An empty TBX.VTAUTOURL counts as none.
  WriteFile(dir.path() + "/config.xml", "<TBX MSGTYPE=\"SetupResponse\" TBX.VTAUTOURL=\"\"/>");
  EXPECT_EQ("8004020f tbxctx:235", Raised([&] { context.Setup(); }));

  // PublishKey of a key the store does not have sends nothing.
  tbxtest::LoopbackServer host(
      {tbxtest::Send(tbxtest::HttpAnswer("200 OK", "<TBX MSGTYPE=\"KeyExportResponse\"/>"))});
  context.SetOption("VTAUTOURL", host.Url("/user/setup.asp").c_str());
  EXPECT_EQ("80040210 tbxctx:520", Raised([&] { context.PublishKey(MvString("0-1-none")); }));
  EXPECT_EQ("80040204 tbxctx:515", Raised([&] { context.PublishKey(MvString("../config.xml")); }));
  EXPECT_TRUE(host.Requests().empty());
}

TEST(SetupContext, ConfigurationWithoutHostKeyStopsAfterSetup)
{
  TempDir dir;
  WriteFile(dir.path() + "/default.xml", "<TBX TBX.ISVALID=\"yes\"/>");
  const std::string answer = "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"3\" CUSTOMERID=\"9\"/>";
  tbxtest::LoopbackServer host({tbxtest::Send(tbxtest::HttpAnswer("200 OK", answer))});
  TBX_Context context;
  context.Open(dir.path().c_str());
  context.SetOption("VTAUTOURL", host.Url("/user/setup.asp").c_str());
  EXPECT_EQ("8004020f tbxctx:670", Raised([&] { context.Reconfigure(); }));
  EXPECT_EQ(1u, host.Requests().size());
  EXPECT_EQ(answer, FileText(dir.path() + "/config.xml"));
  EXPECT_TRUE(ListDir(dir.path() + "/keys/public").empty());
}

std::string HostAnswer(const std::string& xml)
{
  return tbxtest::HttpAnswer("200 OK", xml);
}

// Identifiers and keys from a forged host answer: refused, and the store stays as it was.
TEST(SetupContext, ForgedAnswersWriteNothing)
{
  MvString publicText;
  MvString privateText;
  TBX_CreateKeyTexts(512, publicText, privateText);
  const std::string goodBlob = publicText.c_str();

  struct Case
  {
    std::string what;
    std::string answer;
    bool import;  // ImportKey("hostkey"), else Setup()
    long code;
  };
  std::vector<Case> cases = {
      {"VTKEYID with a slash",
       "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"2\" VTKEYID=\"../x\" CUSTOMERID=\"7\"/>", false,
       TBX_E_INVALID_FORMAT},
      {"VTKEYID dot-dot", "<TBX MSGTYPE=\"SetupResponse\" VTKEYID=\"..\" CUSTOMERID=\"7\"/>", false,
       TBX_E_INVALID_FORMAT},
      {"CUSTOMERID with a slash",
       "<TBX MSGTYPE=\"SetupResponse\" VTKEYID=\"k1\" CUSTOMERID=\"a/../../b\"/>", false,
       TBX_E_INVALID_FORMAT},
      {"CUSTOMERID with a line end",
       "<TBX MSGTYPE=\"SetupResponse\" VTKEYID=\"k1\" CUSTOMERID=\"a&#10;b\"/>", false,
       TBX_E_INVALID_FORMAT},
      {"KEYID with a slash",
       "<TBX MSGTYPE=\"KeyQueryResponse\" KEYID=\"../../evil\" KEYBLOB=\"" + goodBlob + "\"/>",
       true, TBX_E_INVALID_FORMAT},
      {"KEYID empty", "<TBX MSGTYPE=\"KeyQueryResponse\" KEYID=\"\" KEYBLOB=\"" + goodBlob + "\"/>",
       true, TBX_E_INVALID_FORMAT},
      // Names of temporary files: a key file of such a name could be taken for a dead writer's.
      {"VTKEYID of an earlier temporary file's form",
       "<TBX MSGTYPE=\"SetupResponse\" VTKEYID=\".k.tmp-0123456789ab\" CUSTOMERID=\"7\"/>", false,
       TBX_E_INVALID_FORMAT},
      {"KEYID with the temporary files' marker",
       "<TBX MSGTYPE=\"KeyQueryResponse\" KEYID=\".kestrum~0123456789abcdef~k\" KEYBLOB=\"" +
           goodBlob + "\"/>",
       true, TBX_E_INVALID_FORMAT},
      {"KEYBLOB absent", "<TBX MSGTYPE=\"KeyQueryResponse\" KEYID=\"hostkey\"/>", true,
       TBX_E_INVALID_KEY_BLOB},
      {"KEYBLOB odd length", "<TBX MSGTYPE=\"KeyQueryResponse\" KEYBLOB=\"" + goodBlob + "0\"/>",
       true, TBX_E_INVALID_KEY_BLOB},
      {"KEYBLOB not hex", "<TBX MSGTYPE=\"KeyQueryResponse\" KEYBLOB=\"30zz\"/>", true,
       TBX_E_INVALID_KEY_BLOB},
      {"KEYBLOB hex but no key", "<TBX MSGTYPE=\"KeyQueryResponse\" KEYBLOB=\"3003020101\"/>", true,
       TBX_E_INVALID_KEY_BLOB},
      {"KEYBLOB a private key",
       std::string("<TBX MSGTYPE=\"KeyQueryResponse\" KEYBLOB=\"") + privateText.c_str() + "\"/>",
       true, TBX_E_INVALID_KEY_BLOB},
  };
  // Keys that would let anyone sign (exponent 1) or are no RSA key.
  for (const auto& unsound : tbxtest::UnsoundPublicKeys(goodBlob))
    cases.push_back({"KEYBLOB with " + unsound.first,
                     "<TBX MSGTYPE=\"KeyQueryResponse\" KEYBLOB=\"" + unsound.second + "\"/>", true,
                     TBX_E_INVALID_KEY_BLOB});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string store = dir.path() + "/store";
    ::mkdir(store.c_str(), 0777);
    ::mkdir((store + "/keys").c_str(), 0777);
    ::mkdir((store + "/keys/public").c_str(), 0777);
    WriteFile(store + "/config.xml", "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"1\"/>");
    const std::string before = Snapshot(dir.path());

    tbxtest::LoopbackServer host({tbxtest::Send(HostAnswer(c.answer))});
    TBX_Context context;
    context.Open(store.c_str());
    context.SetOption("VTAUTOURL", host.Url("/user/setup.asp").c_str());
    MvString id("hostkey");
    EXPECT_EQ(c.code, CodeOf([&] {
                if (c.import)
                  context.ImportKey(id);
                else
                  context.Setup();
              }));
    EXPECT_STREQ("hostkey", id.c_str());
    EXPECT_EQ(before, Snapshot(dir.path()));
    EXPECT_EQ(1u, host.Requests().size());
  }
}

TEST(SetupContext, ImportKeyStoresTheAnsweredIdentifier)
{
  MvString publicText;
  MvString privateText;
  TBX_CreateKeyTexts(512, publicText, privateText);
  TempDir dir;
  ::mkdir((dir.path() + "/keys").c_str(), 0777);
  ::mkdir((dir.path() + "/keys/public").c_str(), 0777);
  tbxtest::LoopbackServer host({tbxtest::Send(
      HostAnswer(std::string("<TBX MSGTYPE=\"KeyQueryResponse\" KEYID=\"vt-2\" KEYBLOB=\"") +
                 publicText.c_str() + "\"/>"))});
  TBX_Context context;
  context.Open(dir.path().c_str());
  context.SetOption("VTAUTOURL", host.Url("/user/setup.asp").c_str());
  MvString id("vt-1");
  ASSERT_EQ(TBX_OK, CodeOf([&] { context.ImportKey(id); }));
  EXPECT_STREQ("vt-2", id.c_str());
  EXPECT_EQ(publicText.c_str(), FileText(dir.path() + "/keys/public/vt-2"));
  EXPECT_FALSE(Exists(dir.path() + "/keys/public/vt-1"));
  // The request: an unsigned GET of the endpoint with the query's KEYID.
  const std::string request = host.Requests().at(0);
  EXPECT_EQ(0u, request.find("GET /user/setup.asp?DATA=")) << request;
  EXPECT_NE(std::string::npos, request.find("KeyQueryRequest"));
  EXPECT_NE(std::string::npos, request.find("vt%2d1"));
  EXPECT_EQ(std::string::npos, request.find("SIGNATURE"));
}

}  // namespace
