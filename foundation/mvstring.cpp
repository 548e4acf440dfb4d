#include "mvstring.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Headroom beyond the terminator that a first buffer gets.
const uint64_t kHeadroom = 64;

[[noreturn]] void throwOutOfMemory()
{
  throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
}

// The length of a C string a string takes in, counted in full: cut to 32 bits, a text of 4 GiB
// or more would pass for a prefix of itself.
unsigned lengthOf(const char* s)
{
  const size_t n = std::strlen(s);
  if (n >= UINT32_MAX)
    throwOutOfMemory();
  return static_cast<unsigned>(n);
}

// Signed-char comparison of two runs of `n` bytes: -1, 0 or 1.
int compareBytes(const char* a, const char* b, uint32_t n)
{
  for (uint32_t i = 0; i < n; ++i) {
    if (a[i] != b[i])
      return static_cast<signed char>(a[i]) > static_cast<signed char>(b[i]) ? 1 : -1;
  }
  return 0;
}

int clampToInt(int64_t v)
{
  if (v > INT_MAX)
    return INT_MAX;
  if (v < INT_MIN)
    return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

MvString::MvString(const char* s) : MvString()
{
  assign(s);
}

MvString::MvString(const char* s, unsigned n) : MvString()
{
  assign(s, n);
}

MvString::MvString(const MvString& s) : MvFindable(s), m_Buffer(nullptr), m_Length(0), m_Capacity(0)
{
  assign(s);
}

MvString::MvString(MvString&& s) noexcept
    : MvFindable(s), m_Buffer(s.m_Buffer), m_Length(s.m_Length), m_Capacity(s.m_Capacity)
{
  s.m_Buffer = nullptr;
  s.m_Length = 0;
  s.m_Capacity = 0;
}

MvString::MvString(const MvString& s, unsigned pos, unsigned n) : MvString()
{
  *this = s.substr(pos, n);
}

MvString::~MvString()
{
  clear();
}

MvAllocator MvString::getAllocator() const
{
  return &MvString::allocate;
}

bool MvString::isInstanceOf(const char* name) const
{
  return TCSNCMP(name, "MvString", npos) == 0 || MvFindable::isInstanceOf(name);
}

void MvString::allocate(MvObject** slot)
{
  MvAllocateInto<MvString>(slot);
}

void MvString::clear()
{
  std::free(m_Buffer);
  m_Buffer = nullptr;
  m_Length = 0;
  m_Capacity = 0;
}

void MvString::grow(unsigned extra)
{
  const uint64_t needed = uint64_t(m_Length) + extra + 1;
  if (m_Capacity >= needed)
    return;
  if (needed > UINT32_MAX)
    throwOutOfMemory();
  uint64_t capacity = needed + kHeadroom;
  if (m_Buffer) {
    const uint64_t geometric = uint64_t(m_Capacity) + m_Capacity / 2;
    if (geometric > capacity)
      capacity = geometric;
  }
  if (capacity > UINT32_MAX)
    capacity = UINT32_MAX;
  // realloc keeps every byte of the old buffer, zero bytes in the text included.
  char* buffer = static_cast<char*>(std::realloc(m_Buffer, capacity));
  if (!buffer)
    throwOutOfMemory();
  if (!m_Buffer)
    buffer[0] = '\0';
  m_Buffer = buffer;
  m_Capacity = static_cast<uint32_t>(capacity);
}

MvString& MvString::assign(const char* s)
{
  if (!s) {
    clear();
    return *this;
  }
  return assign(s, lengthOf(s));
}

MvString& MvString::assign(const char* s, unsigned n)
{
  if (!s) {
    clear();
    return *this;
  }
  // The new buffer is filled before the old one is freed, so `s` may point into this string.
  const uint64_t capacity = uint64_t(n) + 1 + kHeadroom;
  if (capacity > UINT32_MAX)
    throwOutOfMemory();
  char* buffer = static_cast<char*>(std::malloc(capacity));
  if (!buffer)
    throwOutOfMemory();
  std::memcpy(buffer, s, n);
  buffer[n] = '\0';
  std::free(m_Buffer);
  m_Buffer = buffer;
  m_Length = n;
  m_Capacity = static_cast<uint32_t>(capacity);
  return *this;
}

MvString& MvString::assign(const MvObject& other)
{
  if (&other == this)
    return *this;
  const MvString* o = MvAs<MvString>(&other);
  if (!o)
    return *this;
  if (!o->m_Buffer) {
    clear();
    return *this;
  }
  return assign(o->m_Buffer, o->m_Length);
}

MvString& MvString::operator=(MvString&& s) noexcept
{
  if (&s != this) {
    std::free(m_Buffer);
    m_Buffer = s.m_Buffer;
    m_Length = s.m_Length;
    m_Capacity = s.m_Capacity;
    s.m_Buffer = nullptr;
    s.m_Length = 0;
    s.m_Capacity = 0;
  }
  return *this;
}

MvString& MvString::append(const MvString& s)
{
  if (!s.m_Buffer || s.m_Length == 0)
    return *this;
  const uint32_t n = s.m_Length;
  grow(n);
  // Read s.m_Buffer only now: when s is this string, grow() may have moved it.
  std::memcpy(m_Buffer + m_Length, s.m_Buffer, n);
  m_Length += n;
  m_Buffer[m_Length] = '\0';
  return *this;
}

MvString& MvString::append(const char* s)
{
  if (!s)
    return *this;
  return append(s, lengthOf(s));
}

MvString& MvString::append(const char* s, unsigned n)
{
  if (!s)
    return *this;
  const uintptr_t at = reinterpret_cast<uintptr_t>(s);
  const uintptr_t start = reinterpret_cast<uintptr_t>(m_Buffer);
  const bool inside = m_Buffer && at >= start && at < start + m_Capacity;
  grow(n);
  const char* src = inside ? m_Buffer + (at - start) : s;
  std::memmove(m_Buffer + m_Length, src, n);
  m_Length += n;
  m_Buffer[m_Length] = '\0';
  return *this;
}

MvString& MvString::append(char c)
{
  grow(1);
  m_Buffer[m_Length++] = c;
  m_Buffer[m_Length] = '\0';
  return *this;
}

int MvString::compare(const MvString& o) const
{
  if (m_Length != o.m_Length)
    return clampToInt(int64_t(m_Length) - int64_t(o.m_Length));
  if (m_Length == 0)
    return 0;  // no buffer and an empty buffer are the same empty text
  return compareBytes(m_Buffer, o.m_Buffer, m_Length);
}

int MvString::compare(const char* s) const
{
  if (!s)
    return clampToInt(m_Length);
  if (!m_Buffer)
    return clampToInt(-int64_t(std::strlen(s)));
  for (uint32_t i = 0; i < m_Length; ++i) {
    if (s[i] == '\0')
      return 1;
    if (m_Buffer[i] != s[i])
      return static_cast<signed char>(m_Buffer[i]) > static_cast<signed char>(s[i]) ? 1 : -1;
  }
  return s[m_Length] == '\0' ? 0 : -1;
}

bool MvString::operator<(const MvFindable& o) const
{
  if (const MvString* s = MvAs<MvString>(&o))
    return compare(*s) < 0;
  return !(o == *this) && !(o < *this);
}

bool MvString::operator==(const MvFindable& o) const
{
  if (const MvString* s = MvAs<MvString>(&o))
    return compare(*s) == 0;
  return o == *this;
}

char& MvString::operator[](unsigned i)
{
  if (i >= m_Length)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return m_Buffer[i];
}

char MvString::at(unsigned i) const
{
  if (i >= m_Length)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return m_Buffer[i];
}

unsigned MvString::find_first_of(const char* s, unsigned pos) const
{
  const uint64_t n = s != nullptr ? std::strlen(s) : 0;
  if (uint64_t(pos) + n > m_Length)
    return npos;
  if (n == 0)
    return pos;
  const char* const last = m_Buffer + (m_Length - n);
  for (const char* p = m_Buffer + pos; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, s[0], size_t(last - p) + 1));
    if (!p)
      break;
    if (std::memcmp(p, s, n) == 0)
      return static_cast<unsigned>(p - m_Buffer);
  }
  return npos;
}

MvString MvString::substr(unsigned pos, unsigned n) const
{
  if (pos >= m_Length)
    return MvString();
  const uint32_t rest = m_Length - pos;
  return MvString(m_Buffer + pos, n < rest ? n : rest);
}

namespace {

// One allocation for both parts: paths and messages are built this way on every call.
MvString Joined(const char* a, unsigned an, const char* b, unsigned bn)
{
  MvString r;
  const uint64_t total = uint64_t(an) + bn;
  if (total == 0)
    return r;
  if (total < UINT32_MAX)
    r.grow(static_cast<unsigned>(total));
  r.append(a, an);
  r.append(b, bn);
  return r;
}

unsigned LengthOf(const char* s)
{
  return s != nullptr ? static_cast<unsigned>(std::strlen(s)) : 0;
}

}  // namespace

MvString operator+(const MvString& a, const MvString& b)
{
  return Joined(a.c_str(), a.size(), b.c_str(), b.size());
}

MvString operator+(const char* a, const MvString& b)
{
  return Joined(a, LengthOf(a), b.c_str(), b.size());
}

MvString operator+(const MvString& a, const char* b)
{
  return Joined(a.c_str(), a.size(), b, LengthOf(b));
}

MvString operator+(const MvString& a, char b)
{
  return Joined(a.c_str(), a.size(), &b, 1);
}

MvStringStream& MvStringStream::operator<<(const char* s)
{
  m_Text.append(s);
  m_End = false;
  return *this;
}

MvStringStream& MvStringStream::operator<<(const MvString& s)
{
  m_Text.append(s);
  m_End = false;
  return *this;
}

MvStringStream& MvStringStream::operator<<(char c)
{
  m_Text.append(c);
  m_End = false;
  return *this;
}

MvStringStream& MvStringStream::write(const char* s, unsigned n)
{
  m_Text.append(s, n);
  m_End = false;
  return *this;
}

bool MvStringStream::get(char& c)
{
  if (m_ReadPos < m_Text.size()) {
    c = m_Text.c_str()[m_ReadPos++];
    return true;
  }
  m_End = true;
  return false;
}

void MvStringStream::skipTo(unsigned pos)
{
  if (pos > m_ReadPos)
    m_ReadPos = pos < m_Text.size() ? pos : m_Text.size();
  if (pos >= m_Text.size())
    m_End = true;
}

void MvStringStream::unget()
{
  if (m_ReadPos == 0)
    return;
  --m_ReadPos;
  m_End = false;
}

void MvStringStream::clear()
{
  m_Text.clear();
  m_ReadPos = 0;
  m_End = true;
}
