// Allocation-failure injection over the payment paths: the offer, the verification of a
// confirmation and the capture against the sandbox host. For n = 1, 2, ... the n-th allocation
// after arming fails (operator new, the C allocator calls of the library's objects, OpenSSL's
// allocator) until a run ends without reaching n. Every run must end in success,
// TBX_E_OUT_OF_MEMORY or the code of the step that could not allocate, give the right result
// when it succeeds, and leave no library object, no handle and (under LeakSanitizer) no
// unreachable memory behind. Each path prints its number of failure points.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <openssl/crypto.h>

#include "KrptCache.h"
#include "KrptSign.h"
#include "mvobject.h"
#include "sandbox_launcher.h"
#include "tbxapp.h"
#include "tbxgate.h"
#include "tbxsnapshot.h"
#include "test_store.h"

#if defined(__SANITIZE_ADDRESS__)
#define TBX_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TBX_LEAK_CHECK 1
#endif
#endif
#ifdef TBX_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

// ---- the failing allocator ----------------------------------------------------------------------

extern "C" {
void* __real_malloc(size_t n);
void* __real_calloc(size_t n, size_t size);
void* __real_realloc(void* p, size_t n);
char* __real_strdup(const char* s);
void __real_free(void* p);
}

namespace {

long g_failAt = 0;  // 0: disarmed; otherwise the allocation (counted from Arm) that fails
long g_count = 0;
bool g_injected = false;
bool g_inOpenSsl = false;  // the failure was OpenSSL's

// The allocations of the armed run still live, by address (open addressing, no allocation of
// its own). A leak needs one of them, so LeakSanitizer's scan, which is slow, runs only after a
// run that left some.
const size_t kSlots = 1 << 14;
void* const kFreed = reinterpret_cast<void*>(1);
void* g_slots[kSlots];
size_t g_used = 0;  // slots ever filled since Arm
size_t g_live = 0;
bool g_overflow = false;

size_t SlotOf(const void* p)
{
  return (reinterpret_cast<uintptr_t>(p) >> 4) * 2654435761u % kSlots;
}

void Track(void* p)
{
  if (g_failAt == 0 || p == nullptr)
    return;
  if (2 * g_used >= kSlots) {
    g_overflow = true;
    return;
  }
  size_t i = SlotOf(p);
  while (g_slots[i] != nullptr)
    i = (i + 1) % kSlots;
  g_slots[i] = p;
  ++g_used;
  ++g_live;
}

void Forget(void* p)
{
  if (g_failAt == 0 || p == nullptr)
    return;
  for (size_t i = SlotOf(p); g_slots[i] != nullptr; i = (i + 1) % kSlots) {
    if (g_slots[i] == p) {
      g_slots[i] = kFreed;
      --g_live;
      return;
    }
  }
}

void Arm(long n)
{
  std::memset(g_slots, 0, sizeof g_slots);
  g_used = g_live = 0;
  g_overflow = false;
  g_count = 0;
  g_injected = false;
  g_inOpenSsl = false;
  g_failAt = n;
}

// Answers whether the armed failure was reached.
bool Disarm()
{
  g_failAt = 0;
  return g_injected;
}

// True when the run left allocations of its own behind (or could not keep count).
bool LeftAllocations()
{
  return g_live != 0 || g_overflow;
}

bool FailNow(bool openSsl)
{
  if (g_failAt == 0 || ++g_count != g_failAt)
    return false;
  g_injected = true;
  g_inOpenSsl = openSsl;
  return true;
}

// `held`: the memory stays with a thread's state by design, so it is not tracked.
void* Allocate(size_t n, bool openSsl, bool held = false)
{
  if (FailNow(openSsl))
    return nullptr;
  void* p = __real_malloc(n);
  if (!held)
    Track(p);
  return p;
}

void* Reallocate(void* p, size_t n, bool openSsl, bool held = false)
{
  if (n != 0 && FailNow(openSsl))
    return nullptr;
  void* q = __real_realloc(p, n);
  if (q != nullptr || n == 0) {
    Forget(p);
    if (!held)
      Track(q);
  }
  return q;
}

void Release(void* p)
{
  Forget(p);
  __real_free(p);
}

}  // namespace

// The C allocator calls of the objects linked into this binary, redirected by -Wl,--wrap.
extern "C" {
void* __wrap_malloc(size_t n)
{
  return Allocate(n, false);
}

void* __wrap_calloc(size_t n, size_t size)
{
  if (FailNow(false))
    return nullptr;
  void* p = __real_calloc(n, size);
  Track(p);
  return p;
}

void* __wrap_realloc(void* p, size_t n)
{
  return Reallocate(p, n, false);
}

char* __wrap_strdup(const char* s)
{
  if (FailNow(false))
    return nullptr;
  char* p = __real_strdup(s);
  Track(p);
  return p;
}

void __wrap_free(void* p)
{
  Release(p);
}
}

void* operator new(std::size_t n)
{
  void* p = Allocate(n ? n : 1, false);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
  return Allocate(n ? n : 1, false);
}

void* operator new[](std::size_t n)
{
  return operator new(n);
}

void* operator new[](std::size_t n, const std::nothrow_t& nt) noexcept
{
  return operator new(n, nt);
}

void operator delete(void* p) noexcept
{
  Release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
  Release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
  Release(p);
}

void operator delete[](void* p) noexcept
{
  Release(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
  Release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
  Release(p);
}

namespace {

// OpenSSL's error queue keeps the texts of its thread's errors for reuse after they are cleared.
bool IsErrorQueue(const char* file)
{
  return file != nullptr && std::strstr(file, "/err/") != nullptr;
}

void* CryptoMalloc(size_t n, const char* file, int)
{
  return Allocate(n, true, IsErrorQueue(file));
}

void* CryptoRealloc(void* p, size_t n, const char* file, int)
{
  return Reallocate(p, n, true, IsErrorQueue(file));
}

void CryptoFree(void* p, const char*, int)
{
  Release(p);
}

// ---- the paths ----------------------------------------------------------------------------------

std::string Hex(long code)
{
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code) & 0xFFFFFFFFul);
  return text;
}

// Handles of one run, destroyed within the run (their teardown allocates too).
struct Handles
{
  void* factory = nullptr;
  void* message = nullptr;
  ~Handles()
  {
    DestroyMessageObject(message);
    DestroyMessageFactory(factory);
  }
};

// Room for any URL or attribute of these paths: a buffer of the test's would be an allocation.
char g_out[16384];

// Every capture run has the host sync three records to disk: on a memory file system when there
// is one, or the runs would mostly wait for the disk.
std::string ScratchDir(const char* tag)
{
  std::string pattern = std::string("/dev/shm/tbx-") + tag + "-XXXXXX";
  return ::mkdtemp(&pattern[0]) != nullptr ? pattern : tbxtest::MakeTempDir(tag);
}

const char* const kUser = "e40215536";
const char* const kPassword = "Pq7mWz2L";

class FaultInjection : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    s_State = ScratchDir("fi-host");
    s_Store = ScratchDir("fi-store");
    s_Host = new sandbox_test::SandboxProcess;
    if (!s_Host->Start(s_State + "/host"))
      return;
    void* setup = CreateConfigurationSetup();
    s_Ready = ConfigurationSetup_SetConfiguration(setup, s_Store.c_str()) == TBX_OK &&
              ConfigurationSetup_Reconfigure(setup, (s_Host->url + "/user/setup.asp").c_str(),
                                             kUser, kPassword) == TBX_OK;
    DestroyConfigurationSetup(setup);
  }

  static void TearDownTestSuite()
  {
    s_Host->Stop();
    delete s_Host;
    tbxtest::RemoveTree(s_State);
    tbxtest::RemoveTree(s_Store);
  }

  void SetUp() override { ASSERT_TRUE(s_Ready) << "the sandbox host or the store is not ready"; }

  // The first steps of every path: a factory on the store.
  static long OpenFactory(Handles& h)
  {
    h.factory = CreateMessageFactory();
    return h.factory == nullptr ? TBX_E_OUT_OF_MEMORY
                                : MessageFactory_Open(h.factory, s_Store.c_str());
  }

  // Every run starts and ends without decoded keys or kept store files: decoding and reading
  // are among the failure points, and what a run kept is not taken for memory it left behind.
  template <class Run>
  static long Uncached(Run run)
  {
    KRPT_FlushKeyCache();
    TBX_SnapshotFlush();
    const long rc = run();
    KRPT_FlushKeyCache();
    TBX_SnapshotFlush();
    return rc;
  }

  // The offer: factory, PayInit, attributes, signed URL.
  static long Offer()
  {
    Handles h;
    long rc = OpenFactory(h);
    if (rc == TBX_OK)
      rc = MessageFactory_CreatePayInit(h.factory, &h.message);
    static const char* const attributes[][2] = {
        {"AMOUNT", "1560"}, {"CURRENCY", "EUR"}, {"DESCRIPTION", "Tea & biscuits"}};
    for (const auto& a : attributes) {
      if (rc == TBX_OK)
        rc = MessageObject_SetAttribute(h.message, a[0], a[1]);
    }
    long length = sizeof g_out;
    if (rc == TBX_OK)
      rc = MessageObject_GetURL(h.message, &length, g_out);
    return rc;
  }

  // An offer authorised at the host (not under injection): its payment's ID and TOKEN, and the
  // host's confirmation.
  static bool Authorised(std::string& id, std::string& token, std::string& data,
                         std::string& signature)
  {
    if (Offer() != TBX_OK)
      return false;
    const std::string url = g_out;
    if (url.compare(0, s_Host->url.size(), s_Host->url) != 0)
      return false;
    std::string offer, offerSignature;
    if (!tbxtest::SplitRequest(url, offer, offerSignature))
      return false;
    const size_t at = offer.find("TOKEN=\"");
    token = at == std::string::npos ? "" : offer.substr(at + 7, offer.find('"', at + 7) - at - 7);
    const sandbox_test::Reply page = sandbox_test::Exchange(
        s_Host->port, sandbox_test::ClientRequest(url.substr(s_Host->url.size())));
    auto line = [&](const char* name) {
      const std::string key = std::string("\n") + name + "=";
      const size_t from = page.body.find(key);
      if (from == std::string::npos)
        return std::string();
      const size_t start = from + key.size();
      return page.body.substr(start, page.body.find('\n', start) - start);
    };
    id = line("ID");
    data = line("DATA");
    signature = line("SIGNATURE");
    return !id.empty() && !token.empty() && !data.empty() && !signature.empty();
  }

  // The URL of the last offer carries a signature that the store's current key verifies: a
  // failure that was absorbed must not have changed what an offer says.
  static bool OfferSigned()
  {
    auto text = [](const std::string& file) {
      std::ifstream in(s_Store + "/" + file, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::string data, signatureHex;
    std::vector<unsigned char> key, signature;
    if (!tbxtest::SplitRequest(g_out, data, signatureHex) ||
        !tbxtest::FromHex(text("keys/public/" + text("keys/current")), key) ||
        !tbxtest::FromHex(signatureHex, signature))
      return false;
    const std::vector<unsigned char> wide = tbxtest::Widen(data);
    return KRPT_Verify(key.data(), static_cast<int>(key.size()), wide.data(), wide.size(),
                       signature.data(), signature.size()) == 0;
  }

  // The confirmation: verified and read.
  static long Confirmation(const std::string& data, const std::string& signature)
  {
    Handles h;
    long rc = OpenFactory(h);
    if (rc == TBX_OK)
      rc = MessageFactory_VerifyPayConfirm(h.factory, data.c_str(), signature.c_str(), &h.message);
    long length = sizeof g_out;
    if (rc == TBX_OK)
      rc = MessageObject_GetAttribute(h.message, "ID", &length, g_out);
    return rc;
  }

  // The capture of an authorised payment at the host.
  static long Capture(const std::string& id, const std::string& token)
  {
    Handles h;
    long rc = OpenFactory(h);
    if (rc == TBX_OK)
      rc = MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.message);
    if (rc == TBX_OK)
      rc = MessageObject_Capture(h.message);
    return rc;
  }

  // Runs `prepare` (not under injection) and then `run` armed to fail its n-th allocation, for
  // n = 1, 2, ... until a run ends without reaching n; a warm-up run comes first so that
  // OpenSSL's lazy one-time set-up is not what fails. A failure of the library's own allocation
  // must give TBX_E_OUT_OF_MEMORY; one inside OpenSSL may also give `stepCode`, the code of the
  // step, since OpenSSL 3.0 does not flag every allocation failure as one: at most one in a
  // hundred of them, or the library has stopped telling the two apart. A run that
  // succeeds must pass `valid`. Stops at the first run that breaks a rule. Answers the number of
  // failure points.
  template <class Prepare, class Run, class Valid>
  long EveryAllocationFails(const char* path, long stepCode, Prepare prepare, Run run, Valid valid)
  {
    prepare();
    EXPECT_EQ(Hex(TBX_OK), Hex(run())) << path << ": warm-up run";
    EXPECT_FALSE(LeaksFound()) << path << ": warm-up run";
    std::map<long, long> results;  // result code: runs
    long inOpenSsl = 0;
    long scans = 0;
    for (long n = 1; !HasFailure(); ++n) {
      prepare();
      if (HasFailure())
        break;
      const int32_t objects = MvRefCounter::m_nTotalRef.load();
      const unsigned long handles = LiveHandles();
      Arm(n);
      const long rc = run();
      const bool injected = Disarm();
      const std::string at = std::string(path) + ": allocation " + std::to_string(n) +
                             (g_inOpenSsl ? " (OpenSSL's)" : "") + " failing";
      if (!injected) {
        EXPECT_EQ(Hex(TBX_OK), Hex(rc)) << path << ": the run without failure";
        // Memory of before a run that a run lost hold of shows only here.
        EXPECT_FALSE(LeaksFound()) << path << ": memory leaked by one of the runs";
        std::string summary;
        for (const auto& r : results)
          summary += " " + Hex(r.first) + " x" + std::to_string(r.second);
        EXPECT_LE(100 * results[stepCode], inOpenSsl)
            << path << ": OpenSSL's allocation failures reported as " << Hex(stepCode);
        std::printf(
            "[ faultinj ] %s: %ld failure points, %ld of them in OpenSSL; results%s; "
            "%ld runs left allocations\n",
            path, n - 1, inOpenSsl, summary.c_str(), scans);
        RecordProperty(std::string(path) + "_failure_points", static_cast<int>(n - 1));
        return n - 1;
      }
      ++results[rc];
      inOpenSsl += g_inOpenSsl ? 1 : 0;
      EXPECT_TRUE(rc == TBX_OK || rc == TBX_E_OUT_OF_MEMORY || (g_inOpenSsl && rc == stepCode))
          << at << " gave " << Hex(rc) << " (" << TBX_LastErrorMessage() << ")";
      EXPECT_TRUE(rc != TBX_OK || valid()) << at << ": the run succeeded with a wrong result";
      EXPECT_EQ(objects, MvRefCounter::m_nTotalRef.load()) << at << ": library objects left";
      EXPECT_EQ(handles, LiveHandles()) << at << ": handles left";
      // Only a run that left allocations of its own behind can have leaked them.
      if (LeftAllocations()) {
        ++scans;
        EXPECT_FALSE(LeaksFound()) << at << ": memory leaked";
      }
    }
    return 0;
  }

  static unsigned long LiveHandles()
  {
    return TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_FACTORY) +
           TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_OBJECT);
  }

  static bool LeaksFound()
  {
#ifdef TBX_LEAK_CHECK
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
  }

  static std::string s_State;
  static std::string s_Store;
  static sandbox_test::SandboxProcess* s_Host;
  static bool s_Ready;
};

std::string FaultInjection::s_State;
std::string FaultInjection::s_Store;
sandbox_test::SandboxProcess* FaultInjection::s_Host = nullptr;
bool FaultInjection::s_Ready = false;

TEST_F(FaultInjection, Offer)
{
  EXPECT_GT(EveryAllocationFails(
                "offer", TBX_E_CRYPTO, [] {}, [] { return Uncached(Offer); },
                [] { return OfferSigned(); }),
            100);
}

TEST_F(FaultInjection, Confirmation)
{
  std::string id, token, data, signature;
  ASSERT_TRUE(Authorised(id, token, data, signature));
  // Traced: the trace sink's allocations fail as well, and must change nothing.
  struct Trace
  {
    explicit Trace(const std::string& file) { ::setenv("TBXTRACE", file.c_str(), 1); }
    ~Trace() { ::unsetenv("TBXTRACE"); }
  } trace(s_State + "/trace.log");
  EXPECT_GT(EveryAllocationFails(
                "confirmation", TBX_E_INVALID_SIGNATURE, [] {},
                [&] { return Uncached([&] { return Confirmation(data, signature); }); },
                [&] { return id == g_out; }),
            100);
}

TEST_F(FaultInjection, Capture)
{
  // Each run captures a payment of its own: a second capture of one would be refused. Success
  // is the host's answer that it captured.
  std::string id, token, data, signature;
  EXPECT_GT(EveryAllocationFails(
                "capture", TBX_E_CRYPTO,
                [&] { ASSERT_TRUE(Authorised(id, token, data, signature)); },
                [&] { return Uncached([&] { return Capture(id, token); }); }, [] { return true; }),
            100);
}

}  // namespace

int main(int argc, char** argv)
{
  // OpenSSL takes another allocator only before its first allocation.
  if (CRYPTO_set_mem_functions(CryptoMalloc, CryptoRealloc, CryptoFree) != 1) {
    std::fprintf(stderr, "OpenSSL allocated before its allocator could be replaced\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
