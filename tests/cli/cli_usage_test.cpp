// The program's answers to its own command line: usage text, commands, parsing failures and the
// -capt argument rules. None of these reaches the library: the store path named in each case must
// not come into existence.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ftw.h>
#include <string>
#include <vector>

#include "kestrum_runner.h"

using namespace clitest;

namespace {

constexpr int kArgumentError = 0x18;  // low byte of 0x80040218

class CommandLineTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char pattern[] = "/tmp/kestrum-cli-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern));
    m_Dir = pattern;
    m_Store = m_Dir + "/store";
  }
  void TearDown() override
  {
    ::nftw(
        m_Dir.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
  }

  std::string m_Dir, m_Store;
};

TEST_F(CommandLineTest, UsageTextByteForByte)
{
  const std::string expected = ReadFile(USAGE_FILE);
  ASSERT_FALSE(expected.empty());
  for (const char* help : {"-h", "--help"}) {
    const Outcome r = RunKestrum({help});
    EXPECT_EQ(expected, r.out) << help;
    EXPECT_EQ("", r.err) << help;
    EXPECT_EQ(1, r.status) << help;
  }
  // Anything after the command is ignored.
  EXPECT_EQ(expected, RunKestrum({"-h", "-p", m_Store}).out);
}

struct Case
{
  std::vector<std::string> args;  // "STORE" stands for the test's store path
  std::string err;
  int status;
};

TEST_F(CommandLineTest, ParsingFailures)
{
  const std::vector<Case> cases = {
      {{}, "Error: not enough parameters specified;\ntype kestrum -h to view usage\n", 1},
      {{"-bogus"}, "unknown option -bogus\n", 1},
      {{"-HELP"}, "unknown option -HELP\n", 1},
      {{"conf"}, "unknown option conf\n", 1},
      // Required options, reported by the first missing one in the command's order.
      {{"-conf", "-p", "STORE", "-u", "U", "-w", "W"},
       "ERROR: required parameter --serverurl is missing\n",
       kArgumentError},
      {{"-conf", "-r", "R", "-u", "U", "-w", "W"},
       "ERROR: required parameter --path is missing\n",
       kArgumentError},
      {{"-conf", "-p", "STORE", "-r", "R", "-w", "W"},
       "ERROR: required parameter --username is missing\n",
       kArgumentError},
      {{"-conf", "-p", "STORE", "-r", "R", "-u", "U"},
       "ERROR: required parameter --password is missing\n",
       kArgumentError},
      {{"-attr"}, "ERROR: required parameter --path is missing\n", kArgumentError},
      {{"-payinit", "-a", "AMOUNT", "1"},
       "ERROR: required parameter --path is missing\n",
       kArgumentError},
      {{"-payconfirm", "-p", "STORE", "-s", "S"},
       "ERROR: required parameter --data is missing\n",
       kArgumentError},
      {{"-payconfirm", "-p", "STORE", "-d", "D"},
       "ERROR: required parameter --signature is missing\n",
       kArgumentError},
      {{"-exec", "-p", "STORE"},
       "ERROR: required parameter --messagetype is missing\n",
       kArgumentError},
      {{"-capt", "-i", "I", "-t", "T"},
       "ERROR: required parameter --path is missing\n",
       kArgumentError},
      // An option or a pair without its value.
      {{"-payinit", "-p"}, "invalid parameter format\n", kArgumentError},
      {{"-payinit", "--path"}, "invalid parameter format\n", kArgumentError},
      {{"-payinit", "-p", "STORE", "-a"}, "invalid parameter format\n", kArgumentError},
      {{"-payinit", "-p", "STORE", "-a", "AMOUNT"}, "invalid parameter format\n", kArgumentError},
      {{"-attr", "--path", "STORE", "--attribute", "LANGID"},
       "invalid parameter format\n",
       kArgumentError},
      // One -a introduces one pair.
      {{"-payinit", "-p", "STORE", "-a", "AMOUNT", "1560", "CURRENCY", "EUR"},
       "unknown option: CURRENCY\n",
       kArgumentError},
      // Options of other commands, a pair without its value, long names with one dash.
      {{"-capt", "-p", "STORE", "-r", "R"}, "unknown option: -r\n", kArgumentError},
      {{"-payconfirm", "-p", "STORE", "-d", "D", "-s", "S", "-a", "N"},
       "invalid parameter format\n",
       kArgumentError},
      {{"-attr", "-path", "STORE"}, "unknown option: -path\n", kArgumentError},
      {{"-attr", "-p", "STORE", ""}, "unknown option: \n", kArgumentError},
      // A password typed without -w is not echoed: its position is.
      {{"-conf", "-p", "STORE", "-r", "R", "-u", "U", "Zx81Secret"},
       "unexpected argument 8 after the user name; a password goes after -w\n",
       kArgumentError},
      {{"-conf", "-p", "STORE", "--username", "U", "-Zx81Secret"},
       "unexpected argument 6 after the user name; a password goes after -w\n",
       kArgumentError},
      {{"-conf", "-u", "U", "-p", "STORE", "extra"}, "unknown option: extra\n", kArgumentError},
      // An unknown option is reported before a missing required one.
      {{"-exec", "-x"}, "unknown option: -x\n", kArgumentError},
      // -capt's own rules, in their order.
      {{"-capt", "-p", "STORE"}, "ERROR: missing argument --identifier\n", kArgumentError},
      {{"-capt", "-p", "STORE", "-t", "T"},
       "ERROR: missing argument --identifier\n",
       kArgumentError},
      {{"-capt", "-p", "STORE", "-i", "I"}, "ERROR: missing argument --token\n", kArgumentError},
      {{"-capt", "-p", "STORE", "-f", "F", "-t", "T"},
       "ERROR: specify either --filename or --identifier and --token\n",
       kArgumentError},
      {{"-capt", "-p", "STORE", "--filename", "F", "--identifier", "I"},
       "ERROR: specify either --filename or --identifier and --token\n",
       kArgumentError},
      {{"-capt", "-p", "STORE", "-f", "F", "-i", "I", "-t", "T"},
       "ERROR: specify either --filename or --identifier and --token\n",
       kArgumentError},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    std::string shown;
    for (auto& a : args) {
      if (a == "STORE")
        a = m_Store;
      shown += " " + a;
    }
    const Outcome r = RunKestrum(args);
    EXPECT_EQ(c.err, r.err) << "kestrum" << shown;
    EXPECT_EQ("", r.out) << "kestrum" << shown;
    EXPECT_EQ(c.status, r.status) << "kestrum" << shown;
    EXPECT_FALSE(Exists(m_Store)) << "kestrum" << shown << " reached the library";
  }
}

TEST_F(CommandLineTest, AtMost99AttributePairs)
{
  std::vector<std::string> args = {"-attr", "-p", m_Store};
  for (int i = 0; i < 99; ++i)
    args.insert(args.end(), {"-a", "N" + std::to_string(i), "V"});
  args.insert(args.end(), {"-a", "N99", "V"});
  const Outcome r = RunKestrum(args);
  EXPECT_EQ("too many attribute pairs: a command takes at most 99\n", r.err);
  EXPECT_EQ(kArgumentError, r.status);
  EXPECT_FALSE(Exists(m_Store));
}

TEST_F(CommandLineTest, PasswordFromTheEnvironmentOnlyWhenNotGiven)
{
  const std::vector<std::string> noPassword = {"-conf", "-p", m_Store, "-r", "R", "-u", "U"};
  // Set but empty counts as absent.
  Outcome r = RunKestrum(noPassword, {{"KESTRUM_PASSWORD", ""}});
  EXPECT_EQ("ERROR: required parameter --password is missing\n", r.err);
  EXPECT_EQ(kArgumentError, r.status);
  EXPECT_FALSE(Exists(m_Store));
}

}  // namespace
