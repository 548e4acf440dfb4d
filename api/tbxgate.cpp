#include "tbxgate.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "mvobject.h"

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "tbxgate";
enum Site : long
{
  kSiteNone = 0,  // failures that did not come with a site of their own
};

// The live objects, spread over shards by address: every call takes a shard's lock two or three
// times (the handle it is given, the object it makes, the object it destroys), and threads that
// work on handles of their own then meet on no lock and no cache line.
const size_t kShards = 64;

struct alignas(64) Shard
{
  std::mutex lock;
  std::unordered_map<const void*, TBX_HandleKind> live;
};

struct Registry
{
  Shard shards[kShards];

  Shard& Of(const void* object)
  {
    // Objects are at least 16-byte aligned: the low bits say nothing.
    const uintptr_t a = reinterpret_cast<uintptr_t>(object);
    return shards[((a >> 4) ^ (a >> 10) ^ (a >> 16)) % kShards];
  }
};

// Never destroyed: exported functions may still run while the process tears down static objects
// (a JVM unloading the library, a destructor in the caller's code).
Registry& TheRegistry()
{
  static Registry* registry = new Registry;
  return *registry;
}

// Plain std::string rather than MvString: a thread's error text is not one of the library's objects
// and must not show in the live-object counter.
struct LastError
{
  long code = TBX_OK;
  std::string text;
  const char* fallback = nullptr;  // used when `text` could not be stored
  TBX_RequestState request = TBX_RequestState::kNone;
};

thread_local LastError t_LastError;

}  // namespace

void TBX_HandleRegistry::Add(TBX_HandleKind kind, const void* object)
{
  Shard& shard = TheRegistry().Of(object);
  std::lock_guard<std::mutex> guard(shard.lock);
  shard.live[object] = kind;
}

bool TBX_HandleRegistry::Remove(TBX_HandleKind kind, const void* object)
{
  Shard& shard = TheRegistry().Of(object);
  std::lock_guard<std::mutex> guard(shard.lock);
  auto it = shard.live.find(object);
  if (it == shard.live.end() || it->second != kind)
    return false;
  shard.live.erase(it);
  return true;
}

bool TBX_HandleRegistry::IsLive(TBX_HandleKind kind, const void* object)
{
  Shard& shard = TheRegistry().Of(object);
  std::lock_guard<std::mutex> guard(shard.lock);
  auto it = shard.live.find(object);
  return it != shard.live.end() && it->second == kind;
}

unsigned long TBX_HandleRegistry::Count(TBX_HandleKind kind)
{
  unsigned long n = 0;
  for (Shard& shard : TheRegistry().shards) {
    std::lock_guard<std::mutex> guard(shard.lock);
    for (const auto& entry : shard.live)
      n += entry.second == kind ? 1 : 0;
  }
  return n;
}

void TBX_SetLastError(long code, const MvString& message) noexcept
{
  LastError& e = t_LastError;
  e.code = code;
  e.request = TBX_RequestNow();
  try {
    e.text.assign(message.c_str() != nullptr ? message.c_str() : "", message.length());
    e.fallback = nullptr;
  } catch (...) {
    e.text.clear();
    e.fallback = "out of memory while recording the error message";
  }
}

const char* TBX_LastErrorMessage() noexcept
{
  const LastError& e = t_LastError;
  return e.fallback != nullptr ? e.fallback : e.text.c_str();
}

long TBX_LastErrorCode() noexcept
{
  return t_LastError.code;
}

TBX_RequestState TBX_LastErrorRequest() noexcept
{
  return t_LastError.request;
}

namespace {

// Records a failure that did not come as a TBX_Exception, composing its message the way a
// TBX_Exception would (table text or "ErrorCode = 0x...", TBXDEBUG form included).
void RecordPlain(long result, const char* detail, const char* unit) noexcept
{
  try {
    TBX_Exception composed(result, MvString(detail), unit, kSiteNone);
    TBX_SetLastError(result, composed.m_Message);
  } catch (...) {
    LastError& e = t_LastError;
    e.code = result;
    e.text.clear();
    e.fallback = "out of memory while recording the error message";
    e.request = TBX_RequestNow();
  }
}

}  // namespace

long TBX_HandleCurrentException() noexcept
{
  try {
    throw;
  } catch (const TBX_Exception& e) {
    TBX_SetLastError(e.m_Result, e.m_Message);
    return e.m_Result;
  } catch (const MVFC_Exception& e) {
    RecordPlain(e.code(), "", "mvfc");
    return e.code();
  } catch (const std::bad_alloc&) {
    RecordPlain(TBX_E_OUT_OF_MEMORY, "", kUnit);
    return TBX_E_OUT_OF_MEMORY;
  } catch (const std::exception& e) {
    RecordPlain(TBX_E_UNEXPECTED, e.what(), kUnit);
    return TBX_E_UNEXPECTED;
  } catch (...) {
    RecordPlain(TBX_E_UNEXPECTED, "", kUnit);
    return TBX_E_UNEXPECTED;
  }
}

long TBX_CopyOut(const char* data, size_t bytes, long* length, char* buffer) noexcept
{
  const long needed = static_cast<long>(bytes) + 1;
  if (length == nullptr)
    return TBX_E_BUFFER_TOO_SMALL;
  if (*length < needed) {
    *length = needed;
    return TBX_E_BUFFER_TOO_SMALL;
  }
  if (buffer != nullptr) {
    std::memcpy(buffer, data, bytes);
    buffer[bytes] = '\0';
  }
  *length = needed;
  return TBX_OK;
}

long TBX_CopyOutResult(const MvString& text, long* length, char* buffer, const char* unit,
                       TBX_CopyWhole whole)
{
  // A text ends at its first NUL (the C caller could not see past it); a list of names holds
  // its NULs.
  const char* data = text.c_str() != nullptr ? text.c_str() : "";
  const size_t bytes = whole == TBX_CopyWhole::Yes ? text.length() : ::strnlen(data, text.length());
  const long rc = TBX_CopyOut(data, bytes, length, buffer);
  if (rc != TBX_OK) {
    const TBX_Exception failure(rc, MvString(""), unit, kSiteGateBuffer);
    TBX_SetLastError(rc, failure.m_Message);
  }
  return rc;
}
