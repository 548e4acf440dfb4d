/*
 * httpencode.cpp - Base64 and percent-encoding.
 */
#include "httpencode.h"

#include <cstdint>

#include "mvobject.h"
#include "tbxapp.h"

namespace {

bool IsKept(unsigned char c, PercentKeep keep)
{
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
    return true;
  return keep == PercentKeep::kUnreserved && (c == '-' || c == '.' || c == '_' || c == '~');
}

}  // namespace

int HexDigitValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

void Base64Encode(MvStringStream& in, MvStringStream& out)
{
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  unsigned char group[3];
  char quad[4];
  int have = 0;
  char c;
  MvString text;
  while (in.get(c)) {
    group[have++] = static_cast<unsigned char>(c);
    if (have == 3) {
      quad[0] = kAlphabet[group[0] >> 2];
      quad[1] = kAlphabet[((group[0] & 0x03) << 4) | (group[1] >> 4)];
      quad[2] = kAlphabet[((group[1] & 0x0F) << 2) | (group[2] >> 6)];
      quad[3] = kAlphabet[group[2] & 0x3F];
      text.append(quad, 4);
      have = 0;
    }
  }
  if (have > 0) {
    if (have == 1)
      group[1] = 0;
    quad[0] = kAlphabet[group[0] >> 2];
    quad[1] = kAlphabet[((group[0] & 0x03) << 4) | (group[1] >> 4)];
    quad[2] = have == 2 ? kAlphabet[(group[1] & 0x0F) << 2] : '=';
    quad[3] = '=';
    text.append(quad, 4);
  }
  if (!text.empty())
    out << text;
}

MvString PercentEncode(const MvString& text, PercentKeep keep)
{
  static const char kHex[] = "0123456789abcdef";
  MvString out;
  const char* p = text.c_str();
  const unsigned n = text.size();
  if (n == 0)
    return out;
  if (uint64_t(n) * 3 > UINT32_MAX)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  // Written in the string's own buffer and counted by one append: one grow for the whole text.
  out.grow(n * 3);
  char* const start = out.begin();
  char* w = start;
  for (unsigned i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (IsKept(c, keep)) {
      *w++ = static_cast<char>(c);
    } else {
      *w++ = '%';
      *w++ = kHex[c >> 4];
      *w++ = kHex[c & 0x0F];
    }
  }
  out.append(start, static_cast<unsigned>(w - start));
  return out;
}

void UrlEncode(MvStringStream& in, MvStringStream& out)
{
  MvString text;
  char c;
  while (in.get(c) && c != '\0')
    text.append(c);
  const MvString encoded = PercentEncode(text, PercentKeep::kAlnum);
  if (!encoded.empty())
    out << encoded;
}
