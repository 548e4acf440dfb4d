// The hex decoder (MvHexDecode) on any text and capacity, against a plain model of the decoding:
//  - the result code, the length written and every decoded byte are the model's;
//  - a failure leaves the length as it was;
//  - no byte at or beyond the capacity is written (the buffer is exactly the capacity long on the
//    heap, so ASan sees any write past it), nor any byte past the last one decoded;
//  - a success re-encodes with MvHexEncode to the text's digits in lower case.
// Input: two bytes of capacity (low byte first), then the text; NUL bytes are part of the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tbxapp.h"
#include "mvbytes.h"

namespace {

int Digit(unsigned char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// The decoding as documented: the capacity test runs before every digit, the dropped odd one
// included; the first bad character ends the walk.
long Model(const unsigned char* text, size_t n, unsigned long capacity,
           std::vector<unsigned char>& out)
{
  out.clear();
  for (size_t i = 0; i < n; ++i) {
    if (i / 2 >= capacity)
      return TBX_E_BUFFER_TOO_SMALL;
    if (Digit(text[i]) < 0)
      return TBX_E_COMMAND_FAILED;
    if (i % 2 == 1)
      out.push_back(static_cast<unsigned char>(Digit(text[i - 1]) * 16 + Digit(text[i])));
  }
  return 0;
}

const unsigned char kFill = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 2)
    return 0;
  const unsigned long capacity = data[0] | (static_cast<unsigned long>(data[1] & 0x0F) << 8);
  const unsigned char* text = data + 2;
  const size_t n = size - 2;

  std::vector<unsigned char> expected;
  const long want = Model(text, n, capacity, expected);

  // Exactly the capacity on the heap (one byte when it is 0, never handed out as writable).
  unsigned char* buffer = new unsigned char[capacity > 0 ? capacity : 1];
  std::memset(buffer, kFill, capacity > 0 ? capacity : 1);
  unsigned long length = capacity;
  const long got = MvHexDecode(reinterpret_cast<const char*>(text), n, buffer, length);
  if (got != want)
    abort();
  if (got != 0 && length != capacity)
    abort();
  if (got == 0 && length != expected.size())
    abort();
  // Decoded bytes (also those of a failed call) are the model's, the rest untouched.
  if (expected.size() > capacity ||
      (!expected.empty() && std::memcmp(buffer, expected.data(), expected.size()) != 0))
    abort();
  for (unsigned long i = expected.size(); i < capacity; ++i)
    if (buffer[i] != kFill)
      abort();
  if (got == 0) {
    const MvString hex = MvHexEncode(buffer, length);
    if (hex.size() != 2 * length)
      abort();
    for (unsigned long i = 0; i < 2 * length; ++i) {
      const unsigned char c = text[i];
      const char lower = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
      if (hex.c_str()[i] != lower)
        abort();
    }
  }
  delete[] buffer;
  return 0;
}
