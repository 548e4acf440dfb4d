// The argument parser on its own: what it stores, not only what it refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kestrum_args.h"
#include "tbxapp.h"

namespace {

// The number of pairs before the end marker.
int KestrumPairCount(const KestrumPair* pairs)
{
  int n = 0;
  while (n < kKestrumMaxPairs && pairs[n].m_Name != nullptr)
    ++n;
  return n;
}

struct Parsed
{
  KestrumOption path = {"--path", "-p", nullptr};
  KestrumOption password = {"--password", "-w", nullptr};
  KestrumOption file = {"--filename", "-f", nullptr};
  KestrumOption last = {nullptr, nullptr, nullptr};
  KestrumPair pairs[kKestrumMaxPairs + 1];
  std::string error;
  long result = 0;

  long Parse(std::vector<std::string> args, KestrumEnvLookup env = nullptr, bool withPairs = true)
  {
    KestrumOption* const required[] = {&path, &password, &last};
    KestrumOption* const optional[] = {&file, &last};
    m_Args = std::move(args);
    m_Args.insert(m_Args.begin(), {"kestrum", "-cmd"});
    std::vector<const char*> argv;
    for (const auto& a : m_Args)
      argv.push_back(a.c_str());
    const KestrumCommandArgs command = {required, optional, withPairs ? pairs : nullptr};
    error.clear();
    result = KestrumParseArguments(static_cast<int>(argv.size()), argv.data(), command, env, error);
    return result;
  }

private:
  std::vector<std::string> m_Args;
};

const char* NoEnvironment(const char*)
{
  return nullptr;
}

const char* TestEnvironment(const char* name)
{
  return std::strcmp(name, "KESTRUM_PASSWORD") == 0 ? "from-env" : nullptr;
}

TEST(KestrumArgs, ShortAndLongNamesAndTheLastValueWins)
{
  Parsed p;
  ASSERT_EQ(0, p.Parse({"-p", "one", "--password", "pw", "--path", "two", "-f", "x", "-f", "y"}));
  EXPECT_STREQ("two", p.path.m_Value);
  EXPECT_STREQ("pw", p.password.m_Value);
  EXPECT_STREQ("y", p.file.m_Value);
  EXPECT_EQ(0, KestrumPairCount(p.pairs));
}

TEST(KestrumArgs, PairsInOrderEachWithItsOwnFlag)
{
  Parsed p;
  ASSERT_EQ(0, p.Parse({"-a", "AMOUNT", "1560", "-p", "s", "--attribute", "CURRENCY", "EUR", "-w",
                        "w", "-a", "AMOUNT", "99"}));
  ASSERT_EQ(3, KestrumPairCount(p.pairs));
  EXPECT_STREQ("AMOUNT", p.pairs[0].m_Name);
  EXPECT_STREQ("1560", p.pairs[0].m_Value);
  EXPECT_STREQ("CURRENCY", p.pairs[1].m_Name);
  EXPECT_STREQ("EUR", p.pairs[1].m_Value);
  EXPECT_STREQ("99", p.pairs[2].m_Value);  // a repeated name is another pair, kept in order
  EXPECT_EQ(nullptr, p.pairs[3].m_Name);
}

TEST(KestrumArgs, ValuesAreTakenAsTheyStand)
{
  // The word after an option is its value even when it looks like an option itself.
  Parsed p;
  ASSERT_EQ(0, p.Parse({"-p", "-a", "-w", "", "-a", "-p", "--path"}));
  EXPECT_STREQ("-a", p.path.m_Value);
  EXPECT_STREQ("", p.password.m_Value);
  ASSERT_EQ(1, KestrumPairCount(p.pairs));
  EXPECT_STREQ("-p", p.pairs[0].m_Name);
  EXPECT_STREQ("--path", p.pairs[0].m_Value);
}

TEST(KestrumArgs, NinetyNinePairsThenAFlagIsTooMany)
{
  std::vector<std::string> args = {"-p", "s", "-w", "w"};
  for (int i = 0; i < kKestrumMaxPairs; ++i)
    args.insert(args.end(), {"-a", "N" + std::to_string(i), std::to_string(i)});
  Parsed p;
  ASSERT_EQ(0, p.Parse(args));
  ASSERT_EQ(kKestrumMaxPairs, KestrumPairCount(p.pairs));
  EXPECT_STREQ("N98", p.pairs[98].m_Name);
  EXPECT_EQ(nullptr, p.pairs[kKestrumMaxPairs].m_Name);

  args.insert(args.end(), {"--attribute", "N99", "V"});
  EXPECT_EQ(TBX_E_INVALID_ARGUMENT, p.Parse(args));
  EXPECT_EQ("too many attribute pairs: a command takes at most 99\n", p.error);
}

TEST(KestrumArgs, EverythingIsClearedBeforeParsing)
{
  Parsed p;
  ASSERT_EQ(0, p.Parse({"-p", "s", "-w", "w", "-f", "x", "-a", "N", "V"}));
  ASSERT_EQ(0, p.Parse({"-p", "t", "-w", "w"}));
  EXPECT_EQ(nullptr, p.file.m_Value);
  EXPECT_EQ(0, KestrumPairCount(p.pairs));
}

TEST(KestrumArgs, PasswordFromTheEnvironment)
{
  Parsed p;
  ASSERT_EQ(0, p.Parse({"-p", "s"}, TestEnvironment));
  EXPECT_STREQ("from-env", p.password.m_Value);
  ASSERT_EQ(0, p.Parse({"-p", "s", "-w", "given"}, TestEnvironment));
  EXPECT_STREQ("given", p.password.m_Value);
  EXPECT_EQ(TBX_E_INVALID_ARGUMENT, p.Parse({"-p", "s"}, NoEnvironment));
  EXPECT_EQ("ERROR: required parameter --password is missing\n", p.error);
  EXPECT_EQ(TBX_E_INVALID_ARGUMENT, p.Parse({"-p", "s"}, nullptr));
}

TEST(KestrumArgs, MessagesCarryTheArgumentAsItStands)
{
  Parsed p;
  EXPECT_EQ(TBX_E_INVALID_ARGUMENT, p.Parse({"%s%n"}));
  EXPECT_EQ("unknown option: %s%n\n", p.error);
  EXPECT_EQ(TBX_E_INVALID_ARGUMENT,
            p.Parse({"-p", "s", "-w", "w", "-a", "N", "V"}, nullptr, false));
  EXPECT_EQ("unknown option: -a\n", p.error);
}

}  // namespace
