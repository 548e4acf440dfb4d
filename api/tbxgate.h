// The boundary every exported function goes through: the live-handle registry, the catch ladder
// that turns any exception into a result code, the calling thread's last error message, and the
// output copy of the (length, buffer) convention. Shared by the C functions of api/ and the JNI
// natives of java/.
//
// A C shim is a few lines:
//
//   extern "C" TBX_EXTERN(long) MessageObject_Capture(void* message)
//   {
//     return TBX_Call<TBXCIMPL_MessageObject>(message, kUnit,
//                                             [](TBXCIMPL_MessageObject& m) { m.Capture(); });
//   }
#ifndef TBXGATE_H
#define TBXGATE_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "mvstring.h"
#include "tbxerr.h"
#include "tbxrequest.h"

// Kept in every object behind a handle while it is alive, zeroed when it is destroyed. The registry
// decides whether a handle is live; the mark is a second check and a help when reading a core dump.
const uint32_t TBX_HANDLE_MARK = 0xAFFEAFFEu;

// Error sites of the gate's own failures: the line values messages show, with the name of the
// calling unit (see "Error sites" in tbxerr.h).
enum TBX_GateSite : long
{
  kSiteGateHandle = 1,
  kSiteGateOutHandle = 2,
  kSiteGateBuffer = 3,
};

// One value per class behind a handle: a handle of one kind is never accepted as another kind.
enum TBX_HandleKind
{
  TBX_HANDLE_CONFIGURATION_SETUP = 1,
  TBX_HANDLE_MESSAGE_FACTORY = 2,
  TBX_HANDLE_MESSAGE_OBJECT = 3,
};

// Opens the public part of every class behind a handle: its kind, a default constructor, and no
// copies (a handle names one object). The class's first field is a `uint32_t m_Mark` initialised
// to TBX_HANDLE_MARK.
#define TBX_HANDLE_CLASS(T, kind)                                                                  \
  static const TBX_HandleKind HandleKind = kind;                                                   \
  T() = default;                                                                                   \
  T(const T&) = delete;                                                                            \
  T& operator=(const T&) = delete

// The set of live objects behind handles, by kind. Thread-safe. Membership is decided by address
// only: a stale handle is refused without its memory being read. (An address reused by a new
// object of the same kind reads as that object: the check catches misuse, it cannot make
// a use-after-free correct.)
class TBX_HandleRegistry
{
public:
  // Adds a live object. Raises std::bad_alloc when the registry cannot grow.
  static void Add(TBX_HandleKind kind, const void* object);
  // Removes an object; false (and nothing removed) when it is not live as that kind.
  static bool Remove(TBX_HandleKind kind, const void* object);
  static bool IsLive(TBX_HandleKind kind, const void* object);
  // Number of live objects of a kind (for tests and leak checks).
  static unsigned long Count(TBX_HandleKind kind);
};

// The object behind `handle` when it is a live T (a class with `static const TBX_HandleKind
// HandleKind` and a `uint32_t m_Mark`); null otherwise.
template <class T>
T* TBX_LiveHandle(void* handle) noexcept
{
  if (handle == nullptr || !TBX_HandleRegistry::IsLive(T::HandleKind, handle) ||
      static_cast<T*>(handle)->m_Mark != TBX_HANDLE_MARK)
    return nullptr;
  return static_cast<T*>(handle);
}

// The same, raising TBX_E_INVALID_HANDLE naming `unit` when `handle` is not a live T.
template <class T>
T& TBX_CheckHandle(void* handle, const char* unit)
{
  T* object = TBX_LiveHandle<T>(handle);
  if (object == nullptr)
    TBX_THROW(TBX_E_INVALID_HANDLE, "invalid handle", unit, kSiteGateHandle);
  return *object;
}

// A new registered T, or null when memory runs out (never throws).
template <class T>
T* TBX_NewHandle() noexcept
{
  T* object = new (std::nothrow) T;
  if (object == nullptr)
    return nullptr;
  try {
    TBX_HandleRegistry::Add(T::HandleKind, object);
  } catch (...) {
    delete object;
    return nullptr;
  }
  return object;
}

// Destroys the T behind `handle` when it is live; a null, unknown or already destroyed handle is
// ignored. Never throws.
template <class T>
void TBX_DeleteHandle(void* handle) noexcept
{
  if (handle == nullptr || !TBX_HandleRegistry::Remove(T::HandleKind, handle))
    return;
  T* object = static_cast<T*>(handle);
  object->m_Mark = 0;
  delete object;
}

// Owns a new registered T until it is handed to the caller; destroys it otherwise.
template <class T>
class TBX_HandleHolder
{
public:
  // Raises std::bad_alloc when no object can be made.
  TBX_HandleHolder() : m_Object(TBX_NewHandle<T>())
  {
    if (m_Object == nullptr)
      throw std::bad_alloc();
  }
  ~TBX_HandleHolder() { TBX_DeleteHandle<T>(m_Object); }
  TBX_HandleHolder(const TBX_HandleHolder&) = delete;
  TBX_HandleHolder& operator=(const TBX_HandleHolder&) = delete;

  T* operator->() const { return m_Object; }
  T& operator*() const { return *m_Object; }
  T* release()
  {
    T* object = m_Object;
    m_Object = nullptr;
    return object;
  }

private:
  T* m_Object;
};

// Call only inside a catch handler. Maps the exception being handled to its result code
// (TBX_Exception: its code; MVFC_Exception: its code; std::bad_alloc: TBX_E_OUT_OF_MEMORY;
// anything else: TBX_E_UNEXPECTED) and records its composed message as the calling thread's
// last error. Never throws.
long TBX_HandleCurrentException() noexcept;

// Runs `body` (which returns the result code) and turns any exception into its code.
template <class F>
long TBX_Guard(F&& body) noexcept
{
  MvCountScope counting;
  TBX_RequestBegin();
  try {
    return body();
  } catch (...) {
    return TBX_HandleCurrentException();
  }
}

// The calling thread's last error: the code and composed message of the most recent failure of an
// exported function on this thread, and whether that call's request had reached its host (the
// state of TBX_RequestNow when it was recorded). Successful calls leave them alone.
void TBX_SetLastError(long code, const MvString& message) noexcept;
const char* TBX_LastErrorMessage() noexcept;  // never null; "" when no failure was recorded
long TBX_LastErrorCode() noexcept;            // TBX_OK when no failure was recorded
TBX_RequestState TBX_LastErrorRequest() noexcept;

// Copies `bytes` bytes at `data` and a NUL out under the (length, buffer) convention: a null
// `length`, or *length below bytes + 1, answers TBX_E_BUFFER_TOO_SMALL without copying (*length
// then receives the size needed when `length` is not null); a null buffer only measures.
long TBX_CopyOut(const char* data, size_t bytes, long* length, char* buffer) noexcept;

// The output copy of the (length, buffer) convention: needed = bytes up to the text's first NUL
// (with TBX_CopyWhole::Yes: all its bytes), plus one. A null `length`, or *length below needed,
// answers TBX_E_BUFFER_TOO_SMALL without copying (*length then receives needed when `length` is not
// null) and records it as the thread's last error, composed as an exception naming `unit` would be;
// otherwise the text and its NUL are copied when `buffer` is not null (a null buffer only measures)
// and *length receives needed. Answered rather than raised: measuring is the usual first call, and
// an exception costs more than the rest of a small call.
enum class TBX_CopyWhole
{
  No,
  Yes
};
long TBX_CopyOutResult(const MvString& text, long* length, char* buffer, const char* unit,
                       TBX_CopyWhole whole = TBX_CopyWhole::No);

// Raises TBX_E_INVALID_ARGUMENT naming `unit` when an output-handle pointer is null.
inline void TBX_CheckOutHandle(void** out, const char* unit)
{
  if (out == nullptr)
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "null output handle pointer", unit, kSiteGateOutHandle);
}

// The shapes of the exported shims. Each checks the handle first (a bad one is reported naming
// `unit`), then runs `body` on the live T; any exception becomes its result code.

// `body(object)` does the work; success is TBX_OK.
template <class T, class F>
long TBX_Call(void* handle, const char* unit, F&& body) noexcept
{
  return TBX_Guard([&] {
    body(TBX_CheckHandle<T>(handle, unit));
    return TBX_OK;
  });
}

// `body(object, text)` reads a text, which is then copied out (see TBX_CopyOutResult).
template <class T, class F>
long TBX_CallText(void* handle, const char* unit, long* length, char* buffer, F&& body,
                  TBX_CopyWhole whole = TBX_CopyWhole::No) noexcept
{
  return TBX_Guard([&] {
    T& object = TBX_CheckHandle<T>(handle, unit);
    MvString text;
    body(object, text);
    return TBX_CopyOutResult(text, length, buffer, unit, whole);
  });
}

// `body(object)` returns a new handle, written to *out only on success; a null `out` is refused
// before any work is done.
template <class T, class F>
long TBX_CallNew(void* handle, const char* unit, void** out, F&& body) noexcept
{
  return TBX_Guard([&] {
    T& object = TBX_CheckHandle<T>(handle, unit);
    TBX_CheckOutHandle(out, unit);
    *out = body(object);
    return TBX_OK;
  });
}

// Defines the exported create and destroy functions of the handles of T: `create` answers a new
// registered T or null when memory runs out; `destroy` ignores null, unknown and destroyed handles.
#define TBX_EXPORT_HANDLE_LIFETIME(T, create, destroy)                                             \
  extern "C" TBX_EXTERN(void*) create(void)                                                        \
  {                                                                                                \
    return TBX_NewHandle<T>();                                                                     \
  }                                                                                                \
  extern "C" TBX_EXTERN(void) destroy(void* handle)                                                \
  {                                                                                                \
    TBX_DeleteHandle<T>(handle);                                                                   \
  }

#endif
