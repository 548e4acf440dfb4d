/*
 * mvbytes.cpp - hexadecimal, character classes, percent-encoding and Base64.
 */
#include "mvbytes.h"

#include <cstdint>

#include "mvobject.h"
#include "tbxcodes.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Hex digit values by byte, -1 for every other byte: key and signature texts are decoded on the
// signing and verification path, one lookup per digit.
struct HexTable
{
  signed char value[256];
  constexpr HexTable() : value()
  {
    for (int i = 0; i < 256; ++i)
      value[i] = -1;
    for (int i = 0; i < 10; ++i)
      value['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<signed char>(10 + i);
      value['A' + i] = static_cast<signed char>(10 + i);
    }
  }
};
constexpr HexTable kHexTable;

inline int HexValueOf(char c)
{
  return kHexTable.value[static_cast<unsigned char>(c)];
}

bool IsKept(char c, MvPercentKeep keep)
{
  return MvIsAsciiAlnum(c) ||
         (keep == MvPercentKeep::kUnreserved && (c == '-' || c == '.' || c == '_' || c == '~'));
}

// A string of room for `room` bytes; the caller writes them in place and appends their count.
char* Reserve(MvString& out, uint64_t room)
{
  if (room >= UINT32_MAX)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  out.grow(static_cast<unsigned>(room));
  return out.begin() + out.size();
}

}  // namespace

/* ---- Character classes -------------------------------------------------------------------- */

bool MvIsAsciiAlnum(char c)
{
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool MvIsHexDigit(char c)
{
  return HexValueOf(c) >= 0;
}

int MvHexValue(char c)
{
  return HexValueOf(c);
}

/* ---- Hexadecimal -------------------------------------------------------------------------- */

char* MvHexWrite(const unsigned char* bytes, size_t length, char* out)
{
  for (size_t i = 0; i < length; ++i) {
    *out++ = kHexDigits[bytes[i] >> 4];
    *out++ = kHexDigits[bytes[i] & 0x0F];
  }
  return out;
}

MvString MvHexEncode(const unsigned char* bytes, size_t length)
{
  MvString out;
  if (length == 0)
    return out;
  char* start = Reserve(out, uint64_t(length) * 2);
  // The bytes are already in the string's buffer: append only counts them.
  out.append(start, static_cast<unsigned>(MvHexWrite(bytes, length, start) - start));
  return out;
}

long MvHexDecode(const char* text, size_t textLength, unsigned char* buffer, unsigned long& length)
{
  // Digits past twice the capacity are never looked at: the text is too long whatever they are.
  const uint64_t room = length > UINT64_MAX / 2 ? UINT64_MAX : uint64_t(length) * 2;
  const size_t checked = textLength < room ? textLength : static_cast<size_t>(room);
  size_t i = 0;
  for (; i + 1 < checked; i += 2) {
    const int high = HexValueOf(text[i]);
    const int low = HexValueOf(text[i + 1]);
    if ((high | low) < 0)
      return TBX_E_COMMAND_FAILED;
    buffer[i / 2] = static_cast<unsigned char>(high << 4 | low);
  }
  if (i < checked && HexValueOf(text[i]) < 0)
    return TBX_E_COMMAND_FAILED;
  if (checked < textLength)
    return TBX_E_BUFFER_TOO_SMALL;
  length = static_cast<unsigned long>(textLength / 2);
  return 0;
}

/* ---- Percent-encoding --------------------------------------------------------------------- */

MvString MvPercentEncode(const char* text, size_t length, MvPercentKeep keep)
{
  MvString out;
  if (length == 0)
    return out;
  char* const start = Reserve(out, uint64_t(length) * 3);
  char* w = start;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (IsKept(c, keep)) {
      *w++ = c;
    } else {
      *w++ = '%';
      w = MvHexWrite(reinterpret_cast<const unsigned char*>(text + i), 1, w);
    }
  }
  out.append(start, static_cast<unsigned>(w - start));
  return out;
}

MvString MvPercentDecode(const char* text, size_t length)
{
  MvString out;
  if (length == 0)
    return out;
  char* const start = Reserve(out, length);
  char* w = start;
  for (size_t i = 0; i < length; ++i) {
    const int high = text[i] == '%' && i + 2 < length ? HexValueOf(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValueOf(text[i + 2]) : -1;
    if (low >= 0) {
      *w++ = static_cast<char>(high << 4 | low);
      i += 2;
    } else {
      *w++ = text[i];
    }
  }
  out.append(start, static_cast<unsigned>(w - start));
  return out;
}

/* ---- Base64 ------------------------------------------------------------------------------- */

MvString MvBase64Encode(const char* data, size_t length)
{
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  MvString out;
  if (length == 0)
    return out;
  char* const start = Reserve(out, (uint64_t(length) + 2) / 3 * 4);
  char* w = start;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    *w++ = kAlphabet[p[i] >> 2];
    *w++ = kAlphabet[((p[i] & 0x03) << 4) | (p[i + 1] >> 4)];
    *w++ = kAlphabet[((p[i + 1] & 0x0F) << 2) | (p[i + 2] >> 6)];
    *w++ = kAlphabet[p[i + 2] & 0x3F];
  }
  if (i < length) {
    const unsigned second = i + 1 < length ? p[i + 1] : 0;
    *w++ = kAlphabet[p[i] >> 2];
    *w++ = kAlphabet[((p[i] & 0x03) << 4) | (second >> 4)];
    *w++ = i + 1 < length ? kAlphabet[(second & 0x0F) << 2] : '=';
    *w++ = '=';
  }
  out.append(start, static_cast<unsigned>(w - start));
  return out;
}
