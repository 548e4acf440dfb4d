// The boundary shared by every exported function: handle registry, catch ladder, last error and
// output copy.
#include "tbxapp.h"
#include "tbxgate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "mvobject.h"

namespace {

struct Widget
{
  static const TBX_HandleKind HandleKind = TBX_HANDLE_MESSAGE_FACTORY;
  uint32_t m_Mark = TBX_HANDLE_MARK;
  int m_Value = 7;
};

struct Gadget
{
  static const TBX_HandleKind HandleKind = TBX_HANDLE_MESSAGE_OBJECT;
  uint32_t m_Mark = TBX_HANDLE_MARK;
};

long Use(void* handle)
{
  return TBX_Guard([&] {
    TBX_CheckHandle<Widget>(handle, "gate_test").m_Value++;
    return TBX_OK;
  });
}

std::string LastMessage()
{
  long length = 0;
  EXPECT_EQ(TBX_GetLastErrorMessage(&length, nullptr), TBX_E_BUFFER_TOO_SMALL);
  std::string text(static_cast<size_t>(length), '\0');
  EXPECT_EQ(TBX_GetLastErrorMessage(&length, &text[0]), TBX_OK);
  text.resize(static_cast<size_t>(length) - 1);
  return text;
}

TEST(HandleGate, LiveHandlesPassAndOthersAreRefused)
{
  Widget* w = TBX_NewHandle<Widget>();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Use(w), TBX_OK);
  EXPECT_EQ(w->m_Value, 8);

  EXPECT_EQ(Use(nullptr), TBX_E_INVALID_HANDLE);
  int notAHandle = 0;
  EXPECT_EQ(Use(&notAHandle), TBX_E_INVALID_HANDLE);

  // A live object of another kind is not a Widget.
  Gadget* g = TBX_NewHandle<Gadget>();
  EXPECT_EQ(Use(g), TBX_E_INVALID_HANDLE);
  TBX_DeleteHandle<Widget>(g);  // wrong kind: ignored, g stays live
  EXPECT_TRUE(TBX_HandleRegistry::IsLive(TBX_HANDLE_MESSAGE_OBJECT, g));
  TBX_DeleteHandle<Gadget>(g);

  // Destroyed (and destroyed twice): refused without reading the freed object (ASan would tell).
  TBX_DeleteHandle<Widget>(w);
  EXPECT_EQ(Use(w), TBX_E_INVALID_HANDLE);
  TBX_DeleteHandle<Widget>(w);
  TBX_DeleteHandle<Widget>(nullptr);
  EXPECT_EQ(TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_FACTORY), 0u);
}

TEST(HandleGate, ClearedMarkIsRefused)
{
  Widget* w = TBX_NewHandle<Widget>();
  w->m_Mark = 0;
  EXPECT_EQ(Use(w), TBX_E_INVALID_HANDLE);
  w->m_Mark = TBX_HANDLE_MARK;
  TBX_DeleteHandle<Widget>(w);
}

TEST(HandleGate, HolderDestroysUnlessReleased)
{
  void* kept;
  {
    TBX_HandleHolder<Widget> a;
    TBX_HandleHolder<Widget> b;
    kept = b.release();
    EXPECT_EQ(TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_FACTORY), 2u);
  }
  EXPECT_EQ(TBX_HandleRegistry::Count(TBX_HANDLE_MESSAGE_FACTORY), 1u);
  EXPECT_TRUE(TBX_HandleRegistry::IsLive(TBX_HANDLE_MESSAGE_FACTORY, kept));
  TBX_DeleteHandle<Widget>(kept);
}

struct LadderCase
{
  const char* name;
  void (*raise)();
  long code;
  const char* message;
};

const LadderCase kLadder[] = {
    {"tbx", [] { TBX_THROW(TBX_E_HOST_ERROR, "payment already captured", "tbxctx", 481); },
     TBX_E_HOST_ERROR, "the request failed (payment already captured)"},
    {"mvfc-range", [] { throw MVFC_Exception(TBX_E_OUT_OF_RANGE); }, TBX_E_OUT_OF_RANGE,
     "ErrorCode = 0x80040281"},
    {"mvfc-dup", [] { throw MVFC_Exception(TBX_E_DUPLICATE_KEY); }, TBX_E_DUPLICATE_KEY,
     "ErrorCode = 0x80040292"},
    {"bad_alloc", [] { throw std::bad_alloc(); }, TBX_E_OUT_OF_MEMORY, "ErrorCode = 0x80040217"},
    {"std", [] { throw std::runtime_error("boom"); }, TBX_E_UNEXPECTED, "unexpected error (boom)"},
    {"int", [] { throw 42; }, TBX_E_UNEXPECTED, "unexpected error"},
};

TEST(CatchLadder, EveryExceptionBecomesItsCodeAndMessage)
{
  for (const LadderCase& c : kLadder) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TBX_Guard([&] {
                c.raise();
                return TBX_OK;
              }),
              c.code);
    EXPECT_EQ(LastMessage(), c.message);
    EXPECT_EQ(TBX_GetLastErrorCode(), c.code);
  }
}

TEST(LastError, SuccessKeepsItAndThreadsDoNotShare)
{
  EXPECT_EQ(TBX_Guard([] {
              TBX_THROW(TBX_E_INVALID_URL, "", "t", 1);
              return TBX_OK;
            }),
            TBX_E_INVALID_URL);
  EXPECT_EQ(TBX_Guard([] { return TBX_OK; }), TBX_OK);
  EXPECT_EQ(LastMessage(), "invalid URL");
  EXPECT_EQ(TBX_GetLastErrorCode(), TBX_E_INVALID_URL);

  std::string other = "unset";
  long otherCode = -1;
  std::thread t([&] {
    other = LastMessage();
    otherCode = TBX_GetLastErrorCode();
    TBX_Guard([] {
      TBX_THROW(TBX_E_FILE_IO, "", "t", 1);
      return TBX_OK;
    });
  });
  t.join();
  EXPECT_EQ(other, "");
  EXPECT_EQ(otherCode, TBX_OK);
  EXPECT_EQ(LastMessage(), "invalid URL");
  EXPECT_EQ(TBX_GetLastErrorCode(), TBX_E_INVALID_URL);
}

TEST(LastError, MeasureThenFetchRules)
{
  TBX_Guard([] {
    TBX_THROW(TBX_E_INVALID_URL, "", "t", 1);
    return TBX_OK;
  });
  const long needed = static_cast<long>(std::strlen("invalid URL")) + 1;
  EXPECT_EQ(TBX_GetLastErrorMessage(nullptr, nullptr), TBX_E_BUFFER_TOO_SMALL);

  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  long length = needed - 1;
  EXPECT_EQ(TBX_GetLastErrorMessage(&length, buffer), TBX_E_BUFFER_TOO_SMALL);
  EXPECT_EQ(length, needed);
  EXPECT_EQ(buffer[0], 'x');
  // Measuring did not replace the message being measured.
  EXPECT_EQ(LastMessage(), "invalid URL");
  length = needed;
  EXPECT_EQ(TBX_GetLastErrorMessage(&length, buffer), TBX_OK);
  EXPECT_STREQ(buffer, "invalid URL");
}

TEST(CopyOut, MeasureFetchAndEmbeddedNul)
{
  struct Case
  {
    long length;
    bool buffer;
    long result;
    long lengthAfter;
    const char* copied;  // null: buffer untouched
  };
  const MvString text("ab\0cd", 5);  // copied up to the first NUL
  const Case cases[] = {
      {0, false, TBX_E_BUFFER_TOO_SMALL, 3, nullptr},
      {2, true, TBX_E_BUFFER_TOO_SMALL, 3, nullptr},
      {3, false, TBX_OK, 3, nullptr},
      {3, true, TBX_OK, 3, "ab"},
      {50, true, TBX_OK, 3, "ab"},
      {-1, true, TBX_E_BUFFER_TOO_SMALL, 3, nullptr},
  };
  for (const Case& c : cases) {
    char buffer[8] = "zzzzzzz";
    long length = c.length;
    const long result = TBX_CopyOutResult(text, &length, c.buffer ? buffer : nullptr, "gate_test");
    EXPECT_EQ(result, c.result) << c.length;
    EXPECT_EQ(length, c.lengthAfter) << c.length;
    EXPECT_STREQ(buffer, c.copied != nullptr ? c.copied : "zzzzzzz") << c.length;
  }
  EXPECT_EQ(TBX_CopyOutResult(text, nullptr, nullptr, "t"), TBX_E_BUFFER_TOO_SMALL);
  long length = 10;
  EXPECT_EQ(TBX_CopyOutResult(MvString(), &length, nullptr, "t"), TBX_OK);
  EXPECT_EQ(length, 1);
}

TEST(HandleGate, NullOutHandleIsAnArgumentError)
{
  EXPECT_EQ(TBX_Guard([] {
              TBX_CheckOutHandle(nullptr, "t");
              return TBX_OK;
            }),
            TBX_E_INVALID_ARGUMENT);
}

}  // namespace
