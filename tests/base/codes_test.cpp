// The one list of result codes: every code the public headers define is in it with the same value,
// no code is listed twice, and the error texts are the list's.
#include "tbxerr.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

struct Listed
{
  const char* name;  // the code as written in the list: a TBX_E_ name or a TBX_RESULT(...)
  long code;
  const char* text;
};

#define TBX_LISTED(code, text) {#code, code, text},
const Listed kList[] = {TBX_RESULT_CODES(TBX_LISTED)};
#undef TBX_LISTED

// name -> 32-bit value of every "#define TBX_E_... TBX_RESULT(0x...u)" in the public headers.
std::map<std::string, unsigned long> DefinedCodes()
{
  std::map<std::string, unsigned long> out;
  const std::regex define(R"(^#define\s+(TBX_E_\w+)\s+TBX_RESULT\((0x[0-9A-Fa-f]+)u\))");
  for (const char* header : {"tbxcodes.h", "tbxapp.h"}) {
    const std::string path = std::string(TBX_PUBLIC_INCLUDE) + "/" + header;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (std::regex_search(line, m, define))
        out[m[1]] = std::stoul(m[2], nullptr, 16);
    }
  }
  return out;
}

unsigned long Low32(long code)
{
  return static_cast<unsigned long>(code) & 0xFFFFFFFFul;
}

TEST(ResultCodes, EveryDefinedCodeIsListedOnceWithItsText)
{
  const std::map<std::string, unsigned long> defined = DefinedCodes();
  ASSERT_GE(defined.size(), 30u) << "the headers were not read";

  std::map<std::string, const Listed*> byName;
  std::set<unsigned long> seen;
  for (const Listed& row : kList) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(seen.insert(Low32(row.code)).second) << "listed twice";
    EXPECT_LT(row.code, 0L) << "a failure code has the top bit set";
    byName[row.name] = &row;
    const char* found = TBX_ErrorLookup::Find(row.code);
    if (row.text == nullptr)
      EXPECT_EQ(found, nullptr);
    else
      EXPECT_STREQ(found, row.text);
  }
  for (const auto& d : defined) {
    SCOPED_TRACE(d.first);
    const auto it = byName.find(d.first);
    ASSERT_NE(it, byName.end()) << "defined in the public header but missing from the list";
    EXPECT_EQ(Low32(it->second->code), d.second);
  }
}

}  // namespace
