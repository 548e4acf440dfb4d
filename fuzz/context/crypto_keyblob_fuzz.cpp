// Arbitrary bytes as key blobs, signatures and hex text: every path must end in a result code.
#include "KrptSign.h"
#include "tbxerr.h"
#include "tbxkeys.h"
#include "mvbytes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size < 2)
    return 0;
  const uint8_t mode = data[0] % 4;
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  const int len = static_cast<int>(n);
  static const unsigned char text[] = {'a', 0, 'b', 0};

  switch (mode) {
  case 0: {  // DER public key, then the rest of the input as a signature
    unsigned long sigLength = n / 2;
    KRPT_CheckPublicKey(body, len);
    KRPT_Verify(body, len - static_cast<int>(sigLength), text, sizeof text, body + n - sigLength,
                sigLength);
    break;
  }
  case 1: {  // DER private key: sign and decrypt with whatever it holds
    unsigned char out[KRPT_SIGNATURE_BUFFER_SIZE];
    unsigned long outLength = sizeof out;
    KRPT_Signature(body, len, text, sizeof text, out, &outLength);
    outLength = sizeof out;
    KRPT_DecryptDigest(body, len, text, sizeof text, out, &outLength);
    break;
  }
  case 2: {  // hex text: decoding stays inside the capacity and round-trips
    unsigned char buf[64];
    unsigned long length = body[0] % (sizeof buf + 1);
    const unsigned long capacity = length;
    MvString hex(reinterpret_cast<const char*>(body + 1), static_cast<unsigned>(n - 1));
    if (MvHexDecode(hex.c_str(), hex.size(), buf, length) == 0) {
      if (length > capacity)
        abort();
      MvString back = MvHexEncode(buf, length);
      unsigned long again = length;
      unsigned char buf2[64];
      if (MvHexDecode(back.c_str(), back.size(), buf2, again) != 0 || again != length ||
          memcmp(buf, buf2, length) != 0)
        abort();
    }
    break;
  }
  default: {  // key and signature texts through the store's verification step
    size_t half = n / 2;
    MvString key(reinterpret_cast<const char*>(body), static_cast<unsigned>(half));
    MvString sig(reinterpret_cast<const char*>(body + half), static_cast<unsigned>(n - half));
    try {
      TBX_VerifyWithKeyText(MvString("ab"), key, sig);
    } catch (const TBX_Exception&) {
    }
    MvString encoded = MvPercentEncode(key.c_str(), key.size(), MvPercentKeep::kAlnum);
    if (encoded.size() < key.size())
      abort();
    break;
  }
  }
  return 0;
}
