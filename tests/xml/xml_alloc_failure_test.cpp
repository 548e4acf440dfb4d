// Fails the i-th object allocation for every i and requires a clean failure each time: the
// library's own exception with TBX_E_OUT_OF_MEMORY and no library object left alive. Runs as a
// binary of its own because it replaces the global operator new.
#include "xml_test_util.h"

#include <cstdlib>
#include <new>

namespace {

long g_failAt = 0;  // 0: never fail; otherwise fail the g_failAt-th allocation after arm()
long g_count = 0;
long g_next = 0;  // what arm() sets g_failAt to

// Failures start here: the test's own allocations before this point are left alone.
void arm()
{
  g_count = 0;
  g_failAt = g_next;
}

void disarm()
{
  g_failAt = 0;
}

bool failNow()
{
  return g_failAt != 0 && ++g_count == g_failAt;
}

}  // namespace

void* operator new(std::size_t n)
{
  void* p = failNow() ? nullptr : std::malloc(n ? n : 1);
  if (!p)
    throw std::bad_alloc();
  return p;
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  return failNow() ? nullptr : std::malloc(n ? n : 1);
}

void operator delete(void* p) noexcept
{
  std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
  std::free(p);
}

void* operator new[](std::size_t n)
{
  return operator new(n);
}

void* operator new[](std::size_t n, const std::nothrow_t& nt) noexcept
{
  return operator new(n, nt);
}

void operator delete[](void* p) noexcept
{
  std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
  std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
  std::free(p);
}

namespace {

// Runs `op` failing the 1st, 2nd, ... allocation after its arm() until it completes without a
// failure; every failed run must raise MVFC_Exception(TBX_E_OUT_OF_MEMORY) and leak nothing.
// Answers how many runs failed, so a test can tell that it reached the allocations at all.
template <class Op>
long everyAllocationFails(Op op)
{
  for (long i = 1;; ++i) {
    const int32_t live = MvRefCounter::m_nTotalRef.load();
    g_next = i;
    bool failed = false;
    try {
      op();
    } catch (const MVFC_Exception& ex) {
      failed = true;
      EXPECT_EQ(ex.code(), TBX_E_OUT_OF_MEMORY) << "allocation " << i;
    } catch (...) {
      failed = true;
      ADD_FAILURE() << "allocation " << i << ": not an MVFC_Exception";
    }
    disarm();
    EXPECT_EQ(MvRefCounter::m_nTotalRef.load(), live) << "allocation " << i;
    if (!failed || i == 100000)
      return i - 1;
  }
}

const char kDocument[] =
    "<TBX MSGTYPE='PayInit' DESCRIPTION=\"Books &amp; CDs\" e><ITEM N=1>x</ITEM>"
    "<ITEM N=2/><LINK/></TBX>";

TEST(XmlAllocFailure, Parse)
{
  EXPECT_GT(everyAllocationFails([] {
              MvStringStream in;
              in << kDocument;
              xmlElementPtr doc;
              arm();
              const long result = xmlParser::parseText(in, doc.receive());
              disarm();
              EXPECT_EQ(result, 0);
            }),
            5);  // at least the five elements and the arena of their blocks
}

TEST(XmlAllocFailure, Write)
{
  xmlElementPtr doc;
  ASSERT_EQ(parse(kDocument, doc), 0);
  const std::string expected = written(doc.get());
  EXPECT_GT(everyAllocationFails([&] {
              MvStringStream out;
              arm();
              doc->toStream(out);
              disarm();
              EXPECT_EQ(str(out.str()), expected);
            }),
            0);
}

// Teardown fails silently by design (it falls back to letting go recursively), so every
// position of the failure is tried and only the count of live objects tells.
TEST(XmlAllocFailure, ReleaseNeverThrowsNorLeaks)
{
  for (long i = 1; i <= 8; ++i) {
    const int32_t live = MvRefCounter::m_nTotalRef.load();
    {
      xmlElementPtr tree;
      ASSERT_EQ(parse(std::string(kDocument) + "<a><b><c/></b></a>", tree), 0);
      g_next = i;
      arm();
      tree = nullptr;
      disarm();
    }
    EXPECT_EQ(MvRefCounter::m_nTotalRef.load(), live) << "allocation " << i;
  }
}

TEST(XmlAllocFailure, ElementOperations)
{
  EXPECT_GT(everyAllocationFails([] {
              xmlElementPtr e, c, found;
              const MvString tagE("E"), tagC("C"), name("A"), value("1<2"), query("C(.0).B"),
                  v("v");
              MvString path(query);
              arm();
              xmlParser::createElement(tagE, e.receive());
              xmlParser::createElement(tagC, c.receive());
              e->insertChild(c.get());
              e->setAttribute(name, value);
              EXPECT_EQ(xmlQuerySubElement(e.get(), path, found.receive()), 0);
              EXPECT_TRUE(xmlSetAttributeEx(e.get(), query, v));
              EXPECT_TRUE(e->removeChild(tagC, 0));
              disarm();
            }),
            3);  // at least each element and its block
}

}  // namespace
