#include "jstrconv.h"

namespace {

// Length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), or 0 when there is none.
size_t Utf8Sequence(const unsigned char* p, size_t left, char32_t& code)
{
  const unsigned char b = p[0];
  size_t n;
  char32_t min;
  if (b < 0x80) {
    code = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    code = b & 0x1F;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    code = b & 0x0F;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    code = b & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (left < n)
    return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80)
      return 0;
    code = (code << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return n;
}

void PutUtf8(std::string& out, char32_t c)
{
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::u16string TBXJ_Utf16FromBytes(const char* bytes, size_t length)
{
  std::u16string out;
  if (bytes == nullptr)
    return out;
  out.reserve(length);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t i = 0;
  while (i < length) {
    char32_t code = 0;
    const size_t n = Utf8Sequence(p + i, length - i, code);
    if (n == 0) {
      out += static_cast<char16_t>(p[i]);  // Latin-1
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (code >> 10));
      out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += n;
  }
  return out;
}

std::string TBXJ_BytesFromUtf16(const char16_t* text, size_t length)
{
  std::string out;
  if (text == nullptr)
    return out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const char16_t c = text[i];
    if (c == 0) {
      out += "\xC0\x80";
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      PutUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      PutUtf8(out, c);
    }
  }
  return out;
}
