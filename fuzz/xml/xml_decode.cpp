// XMLDecode on any bytes, against a plain model of the references it knows: "&amp;" "&lt;"
// "&gt;" "&quot;" "&apos;", "&#N;" and "&#xH;" of values 1 to 255; every other '&' stays. Also:
// the output never grows, does not depend on what the output string held before, and encoding
// the output and decoding it again gives it back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mvstring.h"
#include "xmlElement.h"

namespace {

// Length of the reference at s[0] == '&' and its byte; 0 when there is none.
size_t Reference(const std::string& s, size_t at, char& byte)
{
  static const char* const names[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  static const char bytes[] = {'&', '<', '>', '"', '\''};
  for (size_t k = 0; k < 5; ++k)
    if (s.compare(at, std::strlen(names[k]), names[k]) == 0) {
      byte = bytes[k];
      return std::strlen(names[k]);
    }
  if (s.compare(at, 2, "&#") != 0)
    return 0;
  size_t i = at + 2;
  int base = 10;
  if (i < s.size() && s[i] == 'x') {
    base = 16;
    ++i;
  }
  const size_t first = i;
  unsigned long value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    int d = -1;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    if (d < 0)
      break;
    value = value * base + d;
    if (value > 255)
      return 0;
  }
  if (i == first || i == s.size() || s[i] != ';' || value == 0)
    return 0;
  byte = static_cast<char>(value);
  return i + 1 - at;
}

std::string Model(const std::string& s)
{
  std::string out;
  for (size_t i = 0; i < s.size();) {
    char byte;
    const size_t len = s[i] == '&' ? Reference(s, i, byte) : 0;
    if (len == 0) {
      out += s[i++];
    } else {
      out += byte;
      i += len;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1u << 16))
    return 0;
  const std::string in(reinterpret_cast<const char*>(data), size);
  const MvString text(in.data(), static_cast<unsigned>(in.size()));
  MvString out("left over from before &amp;");
  XMLDecode(text, out);
  const std::string want = Model(in);
  if (out.size() != want.size() ||
      (!want.empty() && std::memcmp(out.c_str(), want.data(), want.size()) != 0))
    abort();
  if (out.size() > text.size())
    abort();
  MvString encoded, again;
  XMLEncode(out, encoded);
  XMLDecode(encoded, again);
  if (again != out)
    abort();
  return 0;
}
