// Strings, string streams, the character-string functions and the object protocol.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mvstring.h"

namespace {

// Runs `f` and answers the code of the MVFC_Exception it throws (0 when it throws none).
template <class F>
long thrownCode(F f)
{
  try {
    f();
  } catch (const MVFC_Exception& e) {
    EXPECT_STREQ("", e.m_Text);
    return e.code();
  }
  return 0;
}

int sign(int v)
{
  return (v > 0) - (v < 0);
}

TEST(MvTchar, Functions)
{
  struct Case
  {
    const char* a;
    const char* b;
    unsigned n;
    int want;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0, 0},
      {nullptr, nullptr, 5, 0},
      {nullptr, "a", 5, -1},
      {"a", nullptr, 5, 1},
      {"ab", "ac", 1, 0},
      {"ab", "ac", 2, -1},
      {"ac", "ab", MvString::npos, 1},
      {"abc", "abc", MvString::npos, 0},
      {"ab", "abc", MvString::npos, -1},
      {"abc", "ab", MvString::npos, 1},
      {"abc", "abd", 0, 0},
      {"", "", MvString::npos, 0},
      // Characters compare as signed values: 0x80 is below 'a'.
      {"\x80", "a", MvString::npos, -1},
      {"a", "\xff", MvString::npos, 1},
      {"zzz", "zza", 3, 1},
      {"same", "same", 2, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.want, TCSNCMP(c.a, c.b, c.n))
        << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)") << " n=" << c.n;

  char buf[8] = "xxxxxxx";
  EXPECT_EQ(buf, TCSCPY(buf, "ab"));
  EXPECT_EQ(0, std::memcmp(buf, "ab\0xxxx", 8));
  std::memcpy(buf, "xxxxxxx", 8);
  TCSNCPY(buf, "abcdef", 3);  // no terminator of its own
  EXPECT_EQ(0, std::memcmp(buf, "abcxxxx", 8));
  TCSNCPY(buf, "z", 5);  // stops after the terminator
  EXPECT_EQ(0, std::memcmp(buf, "z\0cxxxx", 8));
}

TEST(MvString, EmptyAndFirstCapacities)
{
  MvString s;
  EXPECT_EQ(0u, s.size());
  EXPECT_EQ(0u, s.capacity());
  EXPECT_EQ(nullptr, s.c_str());
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(s.begin(), s.end());

  s.append("");
  EXPECT_EQ(0u, s.size());
  EXPECT_EQ(65u, s.capacity());
  ASSERT_NE(nullptr, s.c_str());
  EXPECT_STREQ("", s.c_str());

  MvString one;
  one.append('x');
  EXPECT_EQ(66u, one.capacity());
  EXPECT_STREQ("x", one.c_str());

  MvString n(nullptr);
  EXPECT_EQ(nullptr, n.c_str());
  n.append(static_cast<const char*>(nullptr));
  EXPECT_EQ(nullptr, n.c_str());
  MvString e("");
  EXPECT_EQ(65u, e.capacity());
  e.clear();
  EXPECT_EQ(nullptr, e.c_str());
  EXPECT_EQ(0u, e.capacity());

  // An empty MvString appended changes nothing (no buffer appears).
  MvString none;
  none.append(MvString(""));
  EXPECT_EQ(nullptr, none.c_str());
}

TEST(MvString, GrowthIsGeometricAndKeepsText)
{
  MvString s;
  unsigned reallocations = 0, cap = 0;
  std::string model;
  for (unsigned i = 0; i < 100000; ++i) {
    const char c = static_cast<char>('a' + i % 26);
    s.append(c);
    model += c;
    if (s.capacity() != cap) {
      ++reallocations;
      cap = s.capacity();
    }
    ASSERT_GE(s.capacity(), s.size() + 1);
  }
  EXPECT_EQ(model, std::string(s.c_str(), s.size()));
  // 64-byte steps would need over 1500 reallocations.
  EXPECT_LT(reallocations, 40u);
}

TEST(MvString, ZeroBytesSurviveCopyAndGrowth)
{
  const char raw[] = {'a', '\0', 'b', '\0', 'c'};
  MvString s(raw, 5);
  EXPECT_EQ(5u, s.size());
  for (int i = 0; i < 200; ++i)
    s.append('z');  // several reallocations
  MvString copy(s);
  MvString assigned;
  assigned = s;
  for (const MvString* p : {&s, &copy, &assigned}) {
    ASSERT_EQ(205u, p->size());
    EXPECT_EQ(0, std::memcmp(p->c_str(), raw, 5));
    EXPECT_EQ('z', p->at(204));
  }
  MvString other(raw, 5);
  other[4] = 'd';
  EXPECT_NE(MvString(raw, 5), other);  // differs only after a zero byte
  EXPECT_EQ(4u, s.find_first_of("cz", 0));
}

TEST(MvString, Compare)
{
  struct Case
  {
    const char* a;
    const char* b;
    int want;
  };
  const Case cases[] = {
      {"b", "aa", -1},    {"aa", "b", 1},    {"ab", "aa", 1},  {"aa", "ab", -1},
      {"abc", "abc", 0},  {"", "", 0},       {nullptr, "", 0}, {nullptr, nullptr, 0},
      {nullptr, "a", -1}, {"\x80", "a", -1},
  };
  for (const Case& c : cases) {
    const MvString a(c.a), b(c.b);
    EXPECT_EQ(c.want, sign(a.compare(b)))
        << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
    EXPECT_EQ(c.want == 0, a == b);
    EXPECT_EQ(c.want != 0, a != b);
    EXPECT_EQ(c.want < 0, a < static_cast<const MvFindable&>(b));
    EXPECT_EQ(c.want == 0, static_cast<const MvFindable&>(a) == static_cast<const MvFindable&>(b));
  }
  EXPECT_EQ(-2, MvString("b").compare(MvString("abc")));  // the length difference itself

  // Against a plain character string there is no length rule.
  EXPECT_EQ(1, sign(MvString("b").compare("aa")));
  EXPECT_EQ(-1, MvString().compare("x"));
  EXPECT_EQ(-3, MvString().compare("xyz"));
  EXPECT_EQ(5, MvString("hello").compare(static_cast<const char*>(nullptr)));
  EXPECT_EQ(0, MvString().compare(""));
  EXPECT_EQ(0, MvString("").compare(static_cast<const char*>(nullptr)));
  EXPECT_EQ(-1, MvString("ab").compare("abc"));
  EXPECT_EQ(1, MvString("abc").compare("ab"));
  EXPECT_TRUE(MvString("abc") == "abc");
  EXPECT_TRUE("abc" == MvString("abc"));
  EXPECT_TRUE(MvString("abc") != "abd");
}

TEST(MvString, FindAndSubstr)
{
  const MvString h("hello");
  struct Find
  {
    const char* s;
    unsigned pos;
    unsigned want;
  };
  const Find finds[] = {
      {"ll", 0, 2},
      {"lo", 4, MvString::npos},
      {"", 5, 5},
      {"", 6, MvString::npos},
      {"l", 3, 3},
      {"hello", 0, 0},
      {"hellox", 0, MvString::npos},
      {"o", 4, 4},
      {"h", 1, MvString::npos},
      {"lo", MvString::npos, MvString::npos},
      {nullptr, 2, 2},
  };
  for (const Find& f : finds)
    EXPECT_EQ(f.want, h.find_first_of(f.s, f.pos)) << (f.s ? f.s : "(null)") << " @" << f.pos;
  EXPECT_EQ(MvString::npos, MvString().find_first_of("a", 0));
  EXPECT_EQ(0u, MvString().find_first_of("", 0));

  struct Sub
  {
    unsigned pos, n;
    const char* want;
  };
  const Sub subs[] = {
      {2, MvString::npos, "llo"},
      {1, 2, "el"},
      {5, 1, ""},
      {3, 10, "lo"},
      {0, 0, ""},
      {0, MvString::npos, "hello"},
      {MvString::npos, MvString::npos, ""},
      {4, MvString::npos - 1, "o"},
  };
  for (const Sub& s : subs) {
    EXPECT_EQ(MvString(s.want), h.substr(s.pos, s.n)) << s.pos << "," << s.n;
    EXPECT_EQ(MvString(s.want), MvString(h, s.pos, s.n));
  }
  EXPECT_EQ(nullptr, h.substr(5, 1).c_str());
  EXPECT_EQ(nullptr, MvString().substr(0, 1).c_str());
}

TEST(MvString, IndexThrowsOutOfRange)
{
  MvString h("hello");
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { h[5]; }));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { h.at(5); }));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { MvString().at(0); }));
  EXPECT_EQ(0, thrownCode([&] { h[4] = 'O'; }));
  EXPECT_EQ(MvString("hellO"), h);
  EXPECT_EQ(static_cast<long>(static_cast<int32_t>(0x80040281u)), TBX_E_OUT_OF_RANGE);
}

TEST(MvString, SizesBeyond32BitsAreRefused)
{
  MvString s("abc");
  EXPECT_EQ(TBX_E_OUT_OF_MEMORY, thrownCode([&] { s.grow(MvString::npos); }));
  EXPECT_EQ(TBX_E_OUT_OF_MEMORY, thrownCode([&] { s.grow(MvString::npos - 3); }));
  EXPECT_EQ(MvString("abc"), s);  // unchanged
  EXPECT_EQ(68u, s.capacity());
}

TEST(MvString, AssignAppendAndAliasing)
{
  MvString s("abc");
  s.append(s);  // self-append across a reallocation boundary
  EXPECT_EQ(MvString("abcabc"), s);
  for (int i = 0; i < 7; ++i)
    s += s;
  EXPECT_EQ(6u * 128, s.size());
  s.assign(s.c_str() + 3, 3);  // source inside the string itself
  EXPECT_EQ(MvString("abc"), s);
  s.append(s.c_str() + 1);  // appending a piece of itself
  EXPECT_EQ(MvString("abcbc"), s);
  s = s;
  EXPECT_EQ(MvString("abcbc"), s);

  MvString t;
  t.assign(MvString(""));  // empty buffer copies as an empty buffer
  ASSERT_NE(nullptr, t.c_str());
  t.assign(static_cast<const MvObject&>(MvString()));
  EXPECT_EQ(nullptr, t.c_str());
  t = "x";
  t.assign(static_cast<const MvObject&>(MvFindable()));  // not a string: unchanged
  EXPECT_EQ(MvString("x"), t);

  EXPECT_EQ(MvString("ab"), MvString("a") + MvString("b"));
  EXPECT_EQ(MvString("ab"), "a" + MvString("b"));
  EXPECT_EQ(MvString("ab"), MvString("a") + "b");
  EXPECT_EQ(MvString("ab"), MvString("a") + 'b');
  MvString u;
  u += "x";
  u += MvString("y");
  u += 'z';
  EXPECT_STREQ("xyz", u.c_str());
}

TEST(MvObject, ProtocolAndLiveCounter)
{
  const int32_t before = MvRefCounter::m_nTotalRef.load();
  {
    MvString s("x");
    MvString copy(s);
    EXPECT_EQ(before + 2, MvRefCounter::m_nTotalRef.load());

    EXPECT_TRUE(s.isInstanceOf("MvString"));
    EXPECT_TRUE(s.isInstanceOf("MvFindable"));
    EXPECT_TRUE(s.isInstanceOf("MvObject"));
    EXPECT_FALSE(s.isInstanceOf("MvContainer"));
    EXPECT_FALSE(s.isInstanceOf("MvStrin"));
    EXPECT_FALSE(s.isInstanceOf(nullptr));
    EXPECT_FALSE(MvFindable().isInstanceOf("MvString"));
    EXPECT_FALSE(MvObject().isInstanceOf("MvFindable"));

    // Polymorphic copy through the allocator keeps the dynamic class.
    MvObject* slot = new MvObject();
    const MvObject& given = s;
    MvObject::copyOf(given, &slot);
    ASSERT_NE(nullptr, dynamic_cast<MvString*>(slot));
    EXPECT_EQ(MvString("x"), *static_cast<MvString*>(slot));
    delete slot;

    MvString* shared = new MvString("y");
    shared->addRef();
    shared->addRef();
    EXPECT_EQ(1, shared->release());
    EXPECT_EQ(0, shared->release());  // destroyed here
  }
  EXPECT_EQ(before, MvRefCounter::m_nTotalRef.load());
}

// Inside a counting scope (each exported call opens one) a thread's objects are summed and
// counted when the outermost scope closes; outside, and once it closed, the count is exact.
TEST(MvRefCounter, CountScopeDefersUntilItCloses)
{
  const int32_t before = MvRefCounter::m_nTotalRef.load();
  MvString* kept = nullptr;
  {
    MvCountScope outer;
    {
      MvCountScope inner;
      kept = new MvString("kept");
      MvString passing("passing");
      EXPECT_EQ(before, MvRefCounter::m_nTotalRef.load());
    }
    EXPECT_EQ(before, MvRefCounter::m_nTotalRef.load());  // still inside the outer one
  }
  EXPECT_EQ(before + 1, MvRefCounter::m_nTotalRef.load());
  delete kept;
  EXPECT_EQ(before, MvRefCounter::m_nTotalRef.load());
}

TEST(MvStringStream, ReadWriteAndPutBack)
{
  MvStringStream ss;
  EXPECT_TRUE(ss.eof());
  char c = '?';
  EXPECT_FALSE(ss.get(c));
  ss.unget();  // at the start: stays there
  EXPECT_EQ(0u, ss.tellg());

  ss << "ab";
  EXPECT_FALSE(ss.eof());
  ASSERT_TRUE(ss.get(c));
  EXPECT_EQ('a', c);
  ASSERT_TRUE(ss.get(c));
  EXPECT_EQ('b', c);
  EXPECT_FALSE(ss.get(c));
  EXPECT_TRUE(ss.eof());
  EXPECT_EQ('b', c);
  ss.unget();
  EXPECT_FALSE(ss.eof());
  ASSERT_TRUE(ss.get(c));
  EXPECT_EQ('b', c);

  ss << MvString("c") << 'd';
  EXPECT_EQ(MvString("abcd"), ss.str());
  ASSERT_TRUE(ss.get(c));
  EXPECT_EQ('c', c);
}

TEST(MvStringStream, SkipToReadsOnAsGetWould)
{
  const struct
  {
    unsigned from, to;  // read position before, target
    unsigned at;        // read position after
    bool end;           // end flag after
  } cases[] = {
      {0, 2, 2, false}, {0, 4, 4, true}, {0, 9, 4, true}, {3, 1, 3, false}, {2, 2, 2, false},
  };
  for (const auto& c : cases) {
    MvStringStream ss;
    ss << "abcd";
    char ch;
    for (unsigned i = 0; i < c.from; ++i)
      ss.get(ch);
    ss.skipTo(c.to);
    EXPECT_EQ(c.at, ss.tellg()) << c.from << " to " << c.to;
    EXPECT_EQ(c.end, ss.eof()) << c.from << " to " << c.to;
  }
}

}  // namespace
