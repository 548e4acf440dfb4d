// kestrum against the sandbox host on 127.0.0.1: set-up, offers, confirmations saved and loaded,
// captures, general requests, and the error report in its long and short forms.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <random>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "kestrum_runner.h"
#include "sandbox_launcher.h"

using namespace clitest;

namespace {

const char kUser[] = "e40215536";
const char kPassword[] = "Pq7mWz2L";

using sandbox_test::PageLine;
using sandbox_test::PercentDecode;

// The value of attribute NAME in a message's text.
std::string Attribute(const std::string& xml, const std::string& name)
{
  const std::string key = " " + name + "=\"";
  const size_t at = xml.find(key);
  if (at == std::string::npos)
    return std::string();
  const size_t start = at + key.size();
  return xml.substr(start, xml.find('"', start) - start);
}

class KestrumHostTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char pattern[] = "/tmp/kestrum-clihost-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    m_Dir = pattern;
    m_Store = m_Dir + "/store";
    ASSERT_TRUE(m_Host.Start(m_Dir + "/host")) << "kestrum-sandbox did not start";
  }
  void TearDown() override
  {
    EXPECT_EQ(0, m_Host.Stop());
    sandbox_test::RemoveTree(m_Dir);
  }

  std::string SetupUrl() const { return m_Host.url + "/user/setup.asp"; }

  // Sets the store up; the password comes from the environment.
  void Configure()
  {
    const Outcome r = RunKestrum({"-conf", "-p", m_Store, "-r", SetupUrl(), "-u", kUser},
                                 {{"KESTRUM_PASSWORD", kPassword}});
    ASSERT_EQ(0, r.status) << r.err;
    ASSERT_EQ("", r.err);
    ASSERT_EQ("", r.out);
  }

  // An offer through -payinit, authorised at the host; the confirmation's DATA and SIGNATURE.
  void Authorise(std::string& data, std::string& signature, const std::string& amount = "1560")
  {
    const Outcome offer =
        RunKestrum({"-payinit", "-p", m_Store, "-a", "AMOUNT", amount, "-a", "CURRENCY", "EUR"});
    ASSERT_EQ(0, offer.status) << offer.err;
    const std::string path = offer.out.substr(m_Host.url.size());
    const sandbox_test::Reply page =
        sandbox_test::Exchange(m_Host.port, "GET " + path + " HTTP/1.0\r\n\r\n");
    ASSERT_EQ(302, page.status) << page.body;
    data = PageLine("\n" + page.body, "DATA");
    signature = PageLine("\n" + page.body, "SIGNATURE");
    ASSERT_FALSE(data.empty()) << page.body;
    ASSERT_FALSE(signature.empty()) << page.body;
  }

  // The DATA and SIGNATURE of an offer made with -payinit, MSGTYPE set to `type`.
  void Offer(std::string& data, std::string& signature, const std::string& type)
  {
    const Outcome r =
        RunKestrum({"-payinit", "-p", m_Store, "-a", "AMOUNT", "1", "-a", "MSGTYPE", type});
    ASSERT_EQ(0, r.status) << r.err;
    const size_t at = r.out.find("DATA="), sig = r.out.find("&SIGNATURE=");
    ASSERT_NE(std::string::npos, sig) << r.out;
    data = PercentDecode(r.out.substr(at + 5, sig - at - 5));
    signature = r.out.substr(sig + 11);
  }

  void Fault(const std::string& query)
  {
    const sandbox_test::Reply r =
        sandbox_test::Exchange(m_Host.port, "GET /admin/fault?" + query + " HTTP/1.0\r\n\r\n");
    ASSERT_EQ(200, r.status) << r.body;
  }

  sandbox_test::SandboxProcess m_Host;
  std::string m_Dir, m_Store;
};

TEST_F(KestrumHostTest, WholePayment)
{
  ASSERT_NO_FATAL_FAILURE(Configure());
  for (const char* file : {"config.xml", "default.xml", "keys/current"})
    EXPECT_TRUE(Exists(m_Store + "/" + file)) << file;

  // Defaults stored by -attr reach the offer; -payinit's pairs follow them, in order.
  Outcome r = RunKestrum({"-attr", "-p", m_Store, "-a", "LANGID", "de", "-a", "DELIVERY", "yes"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out + r.err);
  // An option given twice keeps its last value: the first store is never touched.
  r = RunKestrum({"-payinit", "-p", m_Dir + "/first", "--path", m_Store, "-a", "AMOUNT", "1560",
                  "-a", "CURRENCY", "EUR", "-a", "DESCRIPTION", "Tea & biscuits", "-a", "CURRENCY",
                  "CHF"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  ASSERT_EQ(0u, r.out.find(m_Host.url + "/offer?DATA=")) << r.out;
  EXPECT_FALSE(Exists(m_Dir + "/first"));
  EXPECT_EQ(std::string::npos, r.out.find('\n'));  // the URL alone, no newline
  const std::string offer = PercentDecode(
      r.out.substr(r.out.find("DATA=") + 5, r.out.find("&SIGNATURE=") - r.out.find("DATA=") - 5));
  EXPECT_EQ("de", Attribute(offer, "LANGID"));
  EXPECT_EQ("yes", Attribute(offer, "DELIVERY"));
  EXPECT_EQ("CHF", Attribute(offer, "CURRENCY"));  // the later pair replaced the earlier value
  EXPECT_EQ("Tea &amp; biscuits", Attribute(offer, "DESCRIPTION"));
  EXPECT_LT(offer.find("LANGID"), offer.find("AMOUNT"));

  std::string data, signature;
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));

  // Printed, then saved over an older, longer file: the same text, nothing added.
  const Outcome printed = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature});
  ASSERT_EQ(0, printed.status) << printed.err;
  EXPECT_EQ("PayConfirm", Attribute(printed.out, "MSGTYPE"));
  EXPECT_EQ('>', printed.out.back());
  const std::string saved = m_Dir + "/confirmed.log";
  WriteFile(saved, std::string(4096, 'x'));
  r = RunKestrum({"-payconfirm", "--path", m_Store, "--data", data, "--signature", signature,
                  "--filename", saved});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out + r.err);
  EXPECT_EQ(printed.out, ReadFile(saved));
  const std::string id = Attribute(printed.out, "ID");
  ASSERT_FALSE(id.empty());
  // Through a symbolic link the link stays and its target gets the text; a device is written to.
  const std::string link = m_Dir + "/link.log", target = m_Dir + "/target.log";
  WriteFile(target, "old");
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", link});
  ASSERT_EQ(0, r.status) << r.err;
  struct stat st;
  ASSERT_EQ(0, ::lstat(link.c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(printed.out, ReadFile(target));
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", "/dev/stdout"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(printed.out, r.out);

  // Captured from the file; the second capture is refused, with the host's reason.
  r = RunKestrum({"-capt", "-p", m_Store, "-f", saved});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out + r.err);
  r = RunKestrum({"-capt", "-p", m_Store, "-f", saved});
  EXPECT_EQ(0x13, r.status);
  EXPECT_EQ(
      "[kestrum] ERROR: 0x80040213 (the request failed)\n"
      "[kestrum] the request failed (payment '" +
          id + "' already captured)\n",
      r.err);
  EXPECT_EQ("", r.out);

  // A general request, its response printed and saved.
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Status", "-a", "ID", id});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("StatusResponse", Attribute(r.out, "MSGTYPE"));
  EXPECT_EQ("captured", Attribute(r.out, "STATE"));
  r = RunKestrum(
      {"-exec", "-p", m_Store, "-m", "Status", "-a", "ID", id, "-f", m_Dir + "/status.log"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.out);
  EXPECT_EQ("captured", Attribute(ReadFile(m_Dir + "/status.log"), "STATE"));
}

TEST_F(KestrumHostTest, CaptureByIdentifierAndToken)
{
  ASSERT_NO_FATAL_FAILURE(Configure());
  std::string data, signature;
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature, "700"));
  const std::string id = Attribute(data, "ID"), token = Attribute(data, "TOKEN");
  Outcome r = RunKestrum({"-capt", "-p", m_Store, "-i", id, "-t", "wrong"});
  EXPECT_EQ(0x13, r.status);
  EXPECT_NE(std::string::npos, r.err.find("the TOKEN does not match")) << r.err;
  r = RunKestrum({"-capt", "-p", m_Store, "--identifier", id, "--token", token});
  EXPECT_EQ(0, r.status) << r.err;
}

TEST_F(KestrumHostTest, FailuresAndTheirReports)
{
  // Wrong credentials: the host answers 401.
  Outcome r = RunKestrum({"-conf", "-p", m_Store, "-r", SetupUrl(), "-u", kUser, "-w", "wrong"});
  EXPECT_EQ("[kestrum] ERROR: 0x80042191 (access to URL resource denied)\n",
            r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(0x91, r.status);
  ASSERT_NO_FATAL_FAILURE(Configure());

  // A code without a text: the short form, the code in lower-case hexadecimal.
  r = RunKestrum({"-payinit", "-p", m_Store, "-a", "BAD NAME", "x"});
  EXPECT_EQ("ERROR: 80040218\n", r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(0x18, r.status);
  EXPECT_EQ("", r.out);

  // A confirmation that does not verify.
  std::string data, signature;
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));
  std::string forged = data;
  forged.replace(forged.find("1560"), 4, "1");
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", forged, "-s", signature});
  EXPECT_EQ(
      "[kestrum] ERROR: 0x80040214 (invalid signature)\n"
      "[kestrum] invalid signature (the signature does not verify under keys/public/" +
          Attribute(data, "KEYID") +
          "; the message was changed, or was not passed exactly as the host sent it)\n",
      r.err);
  EXPECT_EQ(0x14, r.status);

  // Files: a missing one to load, directories that do not exist to save into (the system's error
  // number, reported by -exec only).
  r = RunKestrum({"-capt", "-p", m_Store, "-f", m_Dir + "/no-such-file"});
  EXPECT_EQ(
      "[kestrum] ERROR: 0x80040202 (file not found)\n[kestrum] cannot read the saved message " +
          m_Dir + "/no-such-file: No such file or directory\n",
      r.err);
  EXPECT_EQ(0x02, r.status);
  r = RunKestrum(
      {"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", m_Dir + "/none/c.log"});
  EXPECT_EQ("", r.err);
  EXPECT_EQ(ENOENT, r.status);
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", "/dev/full"});
  EXPECT_EQ("", r.err);
  EXPECT_EQ(ENOSPC, r.status);
  r = RunKestrum(
      {"-exec", "-p", m_Store, "-m", "Echo", "-a", "X", "1", "-f", m_Dir + "/none/e.log"});
  EXPECT_EQ("ERROR: 00000002\n[kestrum] cannot write the response to " + m_Dir +
                "/none/e.log: No such file or directory\n",
            r.err);
  EXPECT_EQ(ENOENT, r.status);

  // A saved file that is not a message.
  WriteFile(m_Dir + "/garbage.log", "not a message");
  r = RunKestrum({"-capt", "-p", m_Store, "-f", m_Dir + "/garbage.log"});
  EXPECT_EQ("[kestrum] ERROR: 0x80040204 (invalid file format)\n",
            r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(0x04, r.status);

  // A failure whose low byte is 0 must not exit with 0: HTTP status 256 gives 0x80042100.
  ASSERT_NO_FATAL_FAILURE(Fault("MODE=status&STATUS=256&MATCH=capture"));
  r = RunKestrum(
      {"-capt", "-p", m_Store, "-i", Attribute(data, "ID"), "-t", Attribute(data, "TOKEN")});
  EXPECT_EQ("ERROR: 80042100\n", r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(255, r.status);

  // The host's own message for an Error answer.
  ASSERT_NO_FATAL_FAILURE(Fault("MODE=error&MATCH=capture&MESSAGE=maintenance%20window"));
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Echo"});
  EXPECT_EQ(
      "[kestrum] ERROR: 0x80040213 (the request failed)\n"
      "[kestrum] the request failed (maintenance window)\n",
      r.err);
  EXPECT_EQ(0x13, r.status);
}

// -payconfirm with "-a NAME VALUE" expectations: the confirmation must be the order's.
TEST_F(KestrumHostTest, ConfirmationMustCarryTheExpectedValues)
{
  ASSERT_NO_FATAL_FAILURE(Configure());
  std::string dear, dearSignature, cheap, cheapSignature;
  ASSERT_NO_FATAL_FAILURE(Authorise(dear, dearSignature, "9900"));
  ASSERT_NO_FATAL_FAILURE(Authorise(cheap, cheapSignature, "500"));
  const std::string token = Attribute(dear, "TOKEN");
  std::string forged = dear;
  forged.replace(forged.find("9900"), 4, "9901");
  const std::string mismatch =
      "[kestrum] ERROR: 0x8004021B (confirmation does not match the order)\n";

  struct Case
  {
    const char* what;
    std::string data, signature;
    std::vector<std::string> pairs;
    int status;
    std::string err;
  } cases[] = {
      {"its own order",
       dear,
       dearSignature,
       {"-a", "TOKEN", token, "-a", "AMOUNT", "9900", "-a", "CURRENCY", "EUR"},
       0,
       ""},
      {"a cheaper order's confirmation",
       cheap,
       cheapSignature,
       {"-a", "TOKEN", token, "-a", "AMOUNT", "9900", "-a", "CURRENCY", "EUR"},
       0x1B,
       mismatch + "[kestrum] confirmation does not match the order (the confirmation's AMOUNT "
                  "is '500', the order's is '9900')\n"},
      {"another order's token alone",
       cheap,
       cheapSignature,
       {"-a", "TOKEN", token},
       0x1B,
       mismatch + "[kestrum] confirmation does not match the order (the confirmation's TOKEN is "
                  "not the order's; it pays another order)\n"},
      {"another attribute",
       dear,
       dearSignature,
       {"-a", "CURRENCY", "CHF"},
       0x1B,
       mismatch + "[kestrum] confirmation does not match the order (the confirmation's CURRENCY "
                  "is 'EUR', the order's is 'CHF')\n"},
      {"a forged confirmation of the order",
       forged,
       dearSignature,
       {"-a", "TOKEN", token, "-a", "AMOUNT", "9901", "-a", "CURRENCY", "EUR"},
       0x14,
       "[kestrum] ERROR: 0x80040214 (invalid signature)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"-payconfirm", "-p", m_Store, "-d", c.data, "-s", c.signature};
    args.insert(args.end(), c.pairs.begin(), c.pairs.end());
    const Outcome r = RunKestrum(args);
    EXPECT_EQ(c.status, r.status) << r.err;
    EXPECT_EQ(c.err, r.err.substr(0, c.err.size()));
    EXPECT_EQ(c.status == 0, Attribute(r.out, "AMOUNT") == Attribute(c.data, "AMOUNT")) << r.out;
    EXPECT_EQ(std::string::npos, r.err.find(token));
  }
}

// A failed -capt or -exec says on its second line whether the request had reached the host.
TEST_F(KestrumHostTest, FailedExchangeSaysWhetherItsRequestWentOut)
{
  ASSERT_NO_FATAL_FAILURE(Configure());
  const std::string lost =
      "[kestrum] the request was sent and its answer lost: the payment may be captured; ask the "
      "host for its state before capturing again\n";
  const std::string notSent = "[kestrum] the request was not sent: it can be repeated\n";
  struct Case
  {
    const char* what;
    std::string fault;  // for the capture; "" for a closed port as CAPTUREURL
    std::string second;
    const char* state;  // the payment's STATE at the host afterwards
  } cases[] = {
      {"closed port", "", notSent, "authorised"},
      {"closed before capturing", "MODE=close&MATCH=PayComplete", lost, "authorised"},
      {"closed after capturing", "MODE=drop&MATCH=PayComplete", lost, "captured"},
  };
  const std::string config = m_Store + "/config.xml";
  const std::string original = ReadFile(config);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string data, signature;
    ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));
    const std::string id = Attribute(data, "ID");
    if (c.fault.empty()) {
      std::string moved = original;
      const std::string from = m_Host.url + "/capture";
      moved.replace(moved.find(from), from.size(), "http://127.0.0.1:1/capture");
      WriteFile(config, moved);
    } else {
      ASSERT_NO_FATAL_FAILURE(Fault(c.fault));
    }
    Outcome r = RunKestrum({"-capt", "-p", m_Store, "-i", id, "-t", Attribute(data, "TOKEN")});
    WriteFile(config, original);
    EXPECT_NE(0, r.status);
    const size_t line2 = r.err.find('\n') + 1;
    EXPECT_EQ(c.second, r.err.substr(line2, c.second.size())) << r.err;
    r = RunKestrum({"-exec", "-p", m_Store, "-m", "Status", "-a", "ID", id});
    EXPECT_EQ(c.state, Attribute(r.out, "STATE")) << r.err;
  }
}

// Python's web server on 127.0.0.1, publishing a directory as a shop may publish its store.
class FileServer
{
public:
  ~FileServer()
  {
    if (m_Pid > 0) {
      ::kill(m_Pid, SIGTERM);
      ::waitpid(m_Pid, nullptr, 0);
    }
  }
  bool Start(const std::string& dir)
  {
    int out[2];
    if (::pipe(out) != 0)
      return false;
    m_Pid = ::fork();
    if (m_Pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(out[1], 1);
      ::dup2(null, 2);
      ::execlp("python3", "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
               "--directory", dir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    struct pollfd p = {out[0], POLLIN, 0};
    char c = 0;
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0 &&
           ::read(out[0], &c, 1) == 1)
      line += c;
    ::close(out[0]);
    const size_t at = line.find(" port ");
    port = at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 6);
    return port > 0;
  }
  int port = 0;

private:
  pid_t m_Pid = -1;
};

// The merchant's own offers, as every shopper sees them, never pass for confirmations: in the
// set-up's user, in another user that may not look into keys/private, on a store read over http,
// and after a key change that removed the old private key. A genuine confirmation passes in each.
TEST_F(KestrumHostTest, OwnOffersNeverConfirmWhereverTheStoreIsRead)
{
  ASSERT_NO_FATAL_FAILURE(Configure());
  std::string offer, offerSignature, typed, typedSignature, data, signature;
  ASSERT_NO_FATAL_FAILURE(Offer(offer, offerSignature, "PayInit"));
  ASSERT_NO_FATAL_FAILURE(Offer(typed, typedSignature, "PayConfirm"));
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));

  struct Setting
  {
    std::string name, store;
    const RunAs* user;
  };
  std::vector<Setting> settings = {{"the set-up's user", m_Store, nullptr}};
  const struct passwd* nobody = ::getpwnam("nobody");
  RunAs other{nobody != nullptr ? nobody->pw_uid : 0, nobody != nullptr ? nobody->pw_gid : 0};
  if (::geteuid() == 0 && nobody != nullptr) {
    ASSERT_EQ(0, ::chmod(m_Dir.c_str(), 0755));
    other.copies = m_Dir + "/bin";
    std::filesystem::create_directory(other.copies);
    std::filesystem::copy_file(KESTRUM_BIN, other.copies + "/kestrum");
    std::filesystem::copy_file(TBXAPP_LIB, other.copies + "/" TBXAPP_SONAME);
    settings.push_back({"another user", m_Store, &other});
  } else {
    std::printf("another user: skipped (needs root and a user nobody)\n");
  }
  // Published without its private keys, as a web server should hold it.
  const std::string published = m_Dir + "/published";
  std::filesystem::copy(m_Store, published, std::filesystem::copy_options::recursive);
  std::filesystem::remove_all(published + "/keys/private");
  FileServer web;
  ASSERT_TRUE(web.Start(published));
  settings.push_back({"over http", "http://127.0.0.1:" + std::to_string(web.port), nullptr});

  for (const Setting& s : settings) {
    SCOPED_TRACE(s.name);
    Outcome r =
        RunKestrum({"-payconfirm", "-p", s.store, "-d", offer, "-s", offerSignature}, {}, s.user);
    EXPECT_EQ(0x14, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("not a confirmation")) << r.err;
    r = RunKestrum({"-payconfirm", "-p", s.store, "-d", typed, "-s", typedSignature}, {}, s.user);
    EXPECT_EQ(0x14, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("own current key")) << r.err;
    r = RunKestrum({"-payconfirm", "-p", s.store, "-d", data, "-s", signature}, {}, s.user);
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("PayConfirm", Attribute(r.out, "MSGTYPE"));
  }

  // A key change, and the old private key removed: the old key is no longer "own" by any file.
  const std::string oldKey = ReadFile(m_Store + "/keys/current");
  ASSERT_NO_FATAL_FAILURE(Configure());
  ASSERT_EQ(0, ::remove((m_Store + "/keys/private/" + oldKey).c_str()));
  Outcome r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", typed, "-s", typedSignature});
  EXPECT_EQ(0x14, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("not the host's key")) << r.err;
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature});
  EXPECT_EQ(0, r.status) << r.err;
}

bool IsHexText(const std::string& text)
{
  return !text.empty() && text.size() % 2 == 0 &&
         text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Set-ups killed at random moments leave every store file whole (XML files one element to its
// end, key files hex) and, once a set-up ran to its end, no temporary file; the store still pays.
TEST_F(KestrumHostTest, SetUpsKilledAtRandomLeaveNoTornOrStrayFile)
{
  const auto start = std::chrono::steady_clock::now();
  ASSERT_NO_FATAL_FAILURE(Configure());
  const long full = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count());
  auto checkWhole = [&](const char* when) {
    SCOPED_TRACE(when);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_Store)) {
      if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.')
        continue;
      const std::string name = entry.path().string(), text = ReadFile(name);
      const bool xml = name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
      const bool key = name.find("/keys/public/") != std::string::npos ||
                       name.find("/keys/private/") != std::string::npos;
      if (xml) {
        EXPECT_TRUE(text.rfind("<TBX ", 0) == 0 && text.back() == '>') << name << ": " << text;
      } else if (key) {
        EXPECT_TRUE(IsHexText(text)) << name;
      }
    }
    const std::string current = ReadFile(m_Store + "/keys/current");
    EXPECT_TRUE(Exists(m_Store + "/keys/private/" + current)) << current;
  };

  std::mt19937 random(20261208);
  std::uniform_int_distribution<long> moment(0, full + full / 4);
  for (int i = 0; i < 200; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
      ::setenv("KESTRUM_PASSWORD", kPassword, 1);
      ::execl(KESTRUM_BIN, KESTRUM_BIN, "-conf", "-p", m_Store.c_str(), "-r", SetupUrl().c_str(),
              "-u", kUser, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    ::usleep(static_cast<useconds_t>(moment(random)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  checkWhole("after the kills");

  ASSERT_NO_FATAL_FAILURE(Configure());
  checkWhole("after a whole set-up");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(m_Store))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp-")) << entry.path();
  std::string data, signature;
  ASSERT_NO_FATAL_FAILURE(Authorise(data, signature));
  const Outcome r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature});
  EXPECT_EQ(0, r.status) << r.err;
}

}  // namespace
