// MvString: an owned 8-bit text that may hold no buffer at all, ordered length first.
// MvStringStream: an append-and-read text buffer.
#ifndef MVSTRING_H
#define MVSTRING_H

#include <cstdint>

#include "mvobject.h"
#include "mvtchar.h"

// The text is kept with a terminator but copied and compared by length, so it may hold zero
// bytes (a file read whole). A string that was never given text, or was cleared, holds no
// buffer: c_str() is null then. Such a string is equal to one holding an empty buffer.
class MvString : public MvFindable
{
public:
  typedef char* iterator;
  typedef const char* const_iterator;
  static constexpr unsigned npos = 0xFFFFFFFFu;

  MvString() : m_Buffer(nullptr), m_Length(0), m_Capacity(0) {}
  MvString(const char* s);
  // `n` characters from `s`, which must hold at least that many (zero bytes included).
  MvString(const char* s, unsigned n);
  MvString(const MvString& s);
  MvString(MvString&& s) noexcept;
  // s.substr(pos, n)
  MvString(const MvString& s, unsigned pos, unsigned n);
  ~MvString() override;

  MvAllocator getAllocator() const override;
  bool isInstanceOf(const char* name) const override;
  static void allocate(MvObject** slot);

  unsigned size() const { return m_Length; }
  unsigned length() const { return m_Length; }
  unsigned capacity() const { return m_Capacity; }
  bool empty() const { return m_Length == 0; }
  const char* c_str() const { return m_Buffer; }
  iterator begin() { return m_Buffer; }
  iterator end() { return m_Buffer ? m_Buffer + m_Length : nullptr; }
  const_iterator begin() const { return m_Buffer; }
  const_iterator end() const { return m_Buffer ? m_Buffer + m_Length : nullptr; }

  // Frees the buffer: length and capacity 0, c_str() null.
  void clear();
  // Makes room for `extra` more characters and a terminator. A first buffer gets 64 bytes of
  // headroom; a full buffer grows by at least half, so runs of appends cost linear time.
  // Throws MVFC_Exception(TBX_E_OUT_OF_MEMORY) when the memory or the 32-bit length runs out.
  void grow(unsigned extra);

  // A null `s` leaves the string without buffer; "" gives it an empty buffer.
  MvString& assign(const char* s);
  MvString& assign(const char* s, unsigned n);
  // `other` must be an MvString; any other object leaves this string unchanged.
  MvString& assign(const MvObject& other) override;
  MvString& operator=(const MvString& s) { return assign(s); }
  MvString& operator=(MvString&& s) noexcept;
  MvString& operator=(const char* s) { return assign(s); }
  using MvFindable::operator=;

  MvString& append(const MvString& s);
  // A null `s` changes nothing; "" gives a string without buffer an empty one.
  MvString& append(const char* s);
  MvString& append(const char* s, unsigned n);
  MvString& append(char c);
  MvString& operator+=(const MvString& s) { return append(s); }
  MvString& operator+=(const char* s) { return append(s); }
  MvString& operator+=(char c) { return append(c); }

  // Length first: a negative value when this string is shorter, positive when longer; strings
  // of one length compare by their characters as signed values (-1, 0, 1).
  int compare(const MvString& o) const;
  // Character by character, no length rule; a null `s` answers the length.
  int compare(const char* s) const;

  // Against an MvString: compare(). Against another findable (a map entry, a group) the other
  // side decides, so an MvString can be the probe of a lookup in any map keyed by strings.
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;
  bool operator==(const MvString& o) const { return compare(o) == 0; }
  bool operator==(const char* s) const { return compare(s) == 0; }
  bool operator!=(const MvString& o) const { return compare(o) != 0; }
  bool operator!=(const char* s) const { return compare(s) != 0; }
  bool operator<(const MvString& o) const { return compare(o) < 0; }

  // Both throw MVFC_Exception(TBX_E_OUT_OF_RANGE) when `i` is not below the length.
  char& operator[](unsigned i);
  char operator[](unsigned i) const { return at(i); }
  char at(unsigned i) const;

  // A substring search, not a search for any of a set of characters: the first index at or
  // after `pos` where the whole text `s` occurs, or npos.
  unsigned find_first_of(const char* s, unsigned pos = 0) const;
  // Up to `n` characters from `pos` (npos: to the end); empty when `pos` is not below the length.
  MvString substr(unsigned pos, unsigned n = npos) const;

private:
  char* m_Buffer;
  uint32_t m_Length;
  uint32_t m_Capacity;
};

MvString operator+(const MvString& a, const MvString& b);
MvString operator+(const char* a, const MvString& b);
MvString operator+(const MvString& a, const char* b);
MvString operator+(const MvString& a, char b);
inline bool operator==(const char* a, const MvString& b)
{
  return b.compare(a) == 0;
}
inline bool operator!=(const char* a, const MvString& b)
{
  return b.compare(a) != 0;
}

// Text written at the end, read from a position that only reading and put-back move.
class MvStringStream
{
public:
  MvStringStream() : m_ReadPos(0), m_End(true) {}
  ~MvStringStream() { m_Text.clear(); }

  MvStringStream& operator<<(const char* s);
  MvStringStream& operator<<(const MvString& s);
  MvStringStream& operator<<(char c);
  MvStringStream& write(const char* s, unsigned n);

  // Stores the next character in `c` and answers true; at the end sets the end flag and
  // answers false, leaving `c` alone.
  bool get(char& c);
  MvStringStream& operator>>(char& c)
  {
    get(c);
    return *this;
  }
  // Steps back one character (not before the start) and clears the end flag.
  void unget();
  // Reads on to `pos` (never back, never past the end) as get() would, without the copies:
  // reaching the end sets the end flag.
  void skipTo(unsigned pos);
  // True once a read found no more characters (and for a new stream).
  bool eof() const { return m_End; }

  const MvString& str() const { return m_Text; }
  MvString& str() { return m_Text; }
  unsigned tellg() const { return m_ReadPos; }
  // Empties the text and rewinds.
  void clear();

private:
  MvString m_Text;
  uint32_t m_ReadPos;
  bool m_End;
};

#endif
