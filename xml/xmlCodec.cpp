/*
 * xmlCodec.cpp - the character-reference codecs and the number reader.
 */
#include "xmlCodec.h"

#include <cstring>

#include "mvbytes.h"

void XMLEncode(const MvString& in, MvString& out)
{
  out.assign("");
  const char* s = in.c_str();
  const unsigned n = in.size();
  unsigned run = 0;  // start of the bytes not yet copied
  for (unsigned i = 0; i < n; ++i) {
    const char* ref;
    unsigned refLen;
    switch (s[i]) {
    case '"':
      ref = "&quot;";
      refLen = 6;
      break;
    case '&':
      ref = "&amp;";
      refLen = 5;
      break;
    case '\'':
      ref = "&apos;";
      refLen = 6;
      break;
    case '<':
      ref = "&lt;";
      refLen = 4;
      break;
    case '>':
      ref = "&gt;";
      refLen = 4;
      break;
    default:
      continue;
    }
    if (i > run)
      out.append(s + run, i - run);
    out.append(ref, refLen);
    run = i + 1;
  }
  if (n > run)
    out.append(s + run, n - run);
}

namespace {

// The byte a reference starting at s[0] == '&' stands for, and its length up to and including
// the ';'; 0 when s does not start with one of the references XMLDecode knows.
unsigned decodeReference(const char* s, unsigned n, char& byte)
{
  static const struct
  {
    const char* name;
    unsigned len;
    char byte;
  } named[] = {
      {"&amp;", 5, '&'},  {"&lt;", 4, '<'},    {"&gt;", 4, '>'},
      {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
  };
  for (const auto& r : named)
    if (n >= r.len && std::memcmp(s, r.name, r.len) == 0) {
      byte = r.byte;
      return r.len;
    }
  if (n < 4 || s[1] != '#')
    return 0;
  unsigned i = 2;
  const bool hex = s[i] == 'x';
  if (hex)
    ++i;
  const unsigned digits = i;
  unsigned value = 0;
  for (; i < n; ++i) {
    const char c = s[i];
    const int d = hex ? MvHexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0)
      break;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (value > 255)
      return 0;
  }
  if (i == digits || i == n || s[i] != ';' || value == 0)
    return 0;
  byte = static_cast<char>(value);
  return i + 1;
}

}  // namespace

void xmlDecodeBytes(const char* s, unsigned n, MvString& out)
{
  out.assign("");
  unsigned run = 0;
  for (unsigned i = 0; i < n; ++i) {
    if (s[i] != '&')
      continue;
    char byte;
    const unsigned len = decodeReference(s + i, n - i, byte);
    if (len == 0)
      continue;  // not a reference: the '&' stays as it is
    if (i > run)
      out.append(s + run, i - run);
    out.append(byte);
    run = i + len;
    i = run - 1;
  }
  if (n > run)
    out.append(s + run, n - run);
}

void XMLDecode(const MvString& in, MvString& out)
{
  xmlDecodeBytes(in.c_str(), in.size(), out);
}

bool xmlAtoi(const MvString& s, int& value)
{
  value = 0;
  const char* p = s.c_str();
  for (unsigned i = 0; i < s.size(); ++i) {
    if (p[i] < '0' || p[i] > '9')
      return false;
    // Unsigned arithmetic: a long number wraps instead of being undefined.
    value =
        static_cast<int>(static_cast<unsigned>(value) * 10u + static_cast<unsigned>(p[i] - '0'));
  }
  return true;
}
