// kestrum against the sandbox host on 127.0.0.1: set-up, offers, confirmations saved and loaded,
// captures, general requests, and the error report in its long and short forms.
#include <gtest/gtest.h>

#include <cstdlib>
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
    const Outcome offer = RunKestrum({"-payinit", "-p", m_Store, "-a", "AMOUNT", amount, "-a",
                                      "CURRENCY", "EUR"});
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
  r = RunKestrum({"-payinit", "-p", m_Dir + "/first", "--path", m_Store, "-a", "AMOUNT", "1560", "-a",
                  "CURRENCY", "EUR", "-a", "DESCRIPTION", "Tea & biscuits", "-a", "CURRENCY", "CHF"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  ASSERT_EQ(0u, r.out.find(m_Host.url + "/offer?DATA=")) << r.out;
  EXPECT_FALSE(Exists(m_Dir + "/first"));
  EXPECT_EQ(std::string::npos, r.out.find('\n')); // the URL alone, no newline
  const std::string offer = PercentDecode(r.out.substr(r.out.find("DATA=") + 5,
                                                       r.out.find("&SIGNATURE=") - r.out.find("DATA=") - 5));
  EXPECT_EQ("de", Attribute(offer, "LANGID"));
  EXPECT_EQ("yes", Attribute(offer, "DELIVERY"));
  EXPECT_EQ("CHF", Attribute(offer, "CURRENCY")); // the later pair replaced the earlier value
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
  EXPECT_EQ("[kestrum] ERROR: 0x80040213 (the request failed)\n"
            "[kestrum] the request failed (payment '" + id + "' already captured)\n", r.err);
  EXPECT_EQ("", r.out);

  // A general request, its response printed and saved.
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Status", "-a", "ID", id});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("StatusResponse", Attribute(r.out, "MSGTYPE"));
  EXPECT_EQ("captured", Attribute(r.out, "STATE"));
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Status", "-a", "ID", id, "-f", m_Dir + "/status.log"});
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
  EXPECT_EQ("[kestrum] ERROR: 0x80042191 (access to URL resource denied)\n", r.err.substr(0, r.err.find('\n') + 1));
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
  EXPECT_EQ("[kestrum] ERROR: 0x80040214 (invalid signature)\n", r.err);
  EXPECT_EQ(0x14, r.status);

  // Files: a missing one to load, directories that do not exist to save into (the system's error
  // number, reported by -exec only).
  r = RunKestrum({"-capt", "-p", m_Store, "-f", m_Dir + "/no-such-file"});
  EXPECT_EQ("[kestrum] ERROR: 0x80040202 (file not found)\n", r.err);
  EXPECT_EQ(0x02, r.status);
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", m_Dir + "/none/c.log"});
  EXPECT_EQ("", r.err);
  EXPECT_EQ(ENOENT, r.status);
  r = RunKestrum({"-payconfirm", "-p", m_Store, "-d", data, "-s", signature, "-f", "/dev/full"});
  EXPECT_EQ("", r.err);
  EXPECT_EQ(ENOSPC, r.status);
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Echo", "-a", "X", "1", "-f", m_Dir + "/none/e.log"});
  EXPECT_EQ("ERROR: 00000002\n", r.err);
  EXPECT_EQ(ENOENT, r.status);

  // A saved file that is not a message.
  WriteFile(m_Dir + "/garbage.log", "not a message");
  r = RunKestrum({"-capt", "-p", m_Store, "-f", m_Dir + "/garbage.log"});
  EXPECT_EQ("[kestrum] ERROR: 0x80040204 (invalid file format)\n", r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(0x04, r.status);

  // A failure whose low byte is 0 must not exit with 0: HTTP status 256 gives 0x80042100.
  ASSERT_NO_FATAL_FAILURE(Fault("MODE=status&STATUS=256&MATCH=capture"));
  r = RunKestrum({"-capt", "-p", m_Store, "-i", Attribute(data, "ID"), "-t", Attribute(data, "TOKEN")});
  EXPECT_EQ("ERROR: 80042100\n", r.err.substr(0, r.err.find('\n') + 1));
  EXPECT_EQ(255, r.status);

  // The host's own message for an Error answer.
  ASSERT_NO_FATAL_FAILURE(Fault("MODE=error&MATCH=capture&MESSAGE=maintenance%20window"));
  r = RunKestrum({"-exec", "-p", m_Store, "-m", "Echo"});
  EXPECT_EQ("[kestrum] ERROR: 0x80040213 (the request failed)\n"
            "[kestrum] the request failed (maintenance window)\n", r.err);
  EXPECT_EQ(0x13, r.status);
}

} // namespace
