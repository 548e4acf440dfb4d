/*
 * tbxutil.cpp - encodings, string conversions, and the key and signature operations.
 */
#include "tbxutil.h"

#include "KrptSign.h"
#include "httpencode.h"
#include "mvobject.h"
#include "tbxerr.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

/* Source unit named by the key operations' failures; they are operations of the context. */
const char CTX_UNIT[] = "tbxctx";

/* Lines the context documents for the failures of GenKey, VerifyData and SignData. */
const long LINE_GENKEY_CRYPTO = 321;
const long LINE_VERIFY_KEY_BLOB = 362;
const long LINE_VERIFY_SIGNATURE_BLOB = 365;
const long LINE_VERIFY_INVALID = 384;
const long LINE_SIGN_KEY_BLOB = 421;
const long LINE_SIGN_CRYPTO = 426;
/* Lines of the failures this module adds: key identifiers and key size. */
const long LINE_KEY_ID = 330;
const long LINE_KEY_BITS = 335;

const char HEX_DIGITS[] = "0123456789abcdef";

int HexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

/*
 * HexToBuffer's work on a text the caller keeps: key texts are decoded in place, so that no copy
 * of a private key is left behind in freed memory.
 */
long HexDecode(const MvString& text, unsigned char* buffer, unsigned long& length)
{
  const char* p = text.c_str();
  unsigned long n = text.size();
  unsigned long i = 0;
  int high = 0;
  for (; i < n; ++i) {
    if (i / 2 >= length)
      return TBX_E_BUFFER_TOO_SMALL;
    int value = HexValue(p[i]);
    if (value < 0)
      return TBX_E_COMMAND_FAILED;
    if (i % 2 == 0)
      high = value;
    else
      buffer[i / 2] = static_cast<unsigned char>(high * 16 + value);
  }
  length = i / 2;
  return 0;
}

/* The code of a failed crypto call: running out of memory says nothing about the key or the
 * signature, so it is not reported as their fault. */
long CryptoFailure(int rc, long code)
{
  return rc == KRPT_OUT_OF_MEMORY ? TBX_E_OUT_OF_MEMORY : code;
}

/* Wipes a buffer that held private key material when it goes out of scope. */
class ScrubbedBuffer
{
public:
  explicit ScrubbedBuffer(size_t size) : m_Data(new unsigned char[size]), m_Size(size) {}
  ~ScrubbedBuffer()
  {
    OPENSSL_cleanse(m_Data, m_Size);
    delete[] m_Data;
  }
  ScrubbedBuffer(const ScrubbedBuffer&) = delete;
  ScrubbedBuffer& operator=(const ScrubbedBuffer&) = delete;
  unsigned char* data() { return m_Data; }
  size_t size() const { return m_Size; }

private:
  unsigned char* m_Data;
  size_t m_Size;
};

} // namespace

/* ---- Encodings ---------------------------------------------------------------------------- */

namespace {

// Appends what `fill` writes (at most `room` bytes, their count answered) in the string's own
// buffer: one append instead of one per byte.
template <class Fill>
void AppendInPlace(MvString& out, unsigned room, Fill fill)
{
  out.grow(room);
  char* at = out.begin() + out.size();
  out.append(at, fill(at));  // the bytes are already in place: append only counts them
}

} // namespace

MvString BufferToHex(const unsigned char* buffer, unsigned long length)
{
  MvString out;
  if (length == 0)
    return out;
  if (length > 0x7FFFFFFFul)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  AppendInPlace(out, static_cast<unsigned>(length * 2), [&](char* w) {
    for (unsigned long i = 0; i < length; ++i) {
      w[2 * i] = HEX_DIGITS[buffer[i] >> 4];
      w[2 * i + 1] = HEX_DIGITS[buffer[i] & 0x0F];
    }
    return static_cast<unsigned>(length * 2);
  });
  return out;
}

long HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length)
{
  return HexDecode(text, buffer, length);
}

MvString Encode(const MvString& text)
{
  return PercentEncode(text, PercentKeep::kAlnum);
}

void SlToBackSl(MvString& text)
{
  for (unsigned i = 0; i < text.size(); ++i) {
    if (text[i] == '/')
      text[i] = '\\';
  }
}

/* ---- String conversions ------------------------------------------------------------------- */

MvString mbstoSTRING(const char* s)
{
  return MvString(s);
}

size_t WCSToMBS(char* dest, const wchar_t* src, size_t size)
{
  return wcstombs(dest, src, size);
}

TBX_WCHARBuffer::TBX_WCHARBuffer(const MvString& text) : m_Buffer(nullptr), m_ByteLength(0)
{
  unsigned long n = text.size();
  m_Buffer = new (std::nothrow) unsigned short[n + 1];
  if (m_Buffer == nullptr)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  // Written byte by byte so that the hashed bytes are b, 0 whatever the host's byte order.
  unsigned char* out = reinterpret_cast<unsigned char*>(m_Buffer);
  const unsigned char* in = reinterpret_cast<const unsigned char*>(text.c_str());
  for (unsigned long i = 0; i < n; ++i) {
    out[2 * i] = in[i];
    out[2 * i + 1] = 0;
  }
  m_Buffer[n] = 0;
  m_ByteLength = 2 * n;
}

TBX_WCHARBuffer::~TBX_WCHARBuffer()
{
  delete[] m_Buffer;
}

/* ---- Key identifiers and key size --------------------------------------------------------- */

bool TBX_IsPlainKeyId(const MvString& id)
{
  if (id.empty() || id == "." || id == "..")
    return false;
  const char* p = id.c_str();
  for (unsigned i = 0; i < id.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(p[i]);
    if (c == '/' || c < 0x20 || c == 0x7F)
      return false;
  }
  return true;
}

void TBX_CheckKeyId(const MvString& id, long code)
{
  if (!TBX_IsPlainKeyId(id))
    TBX_THROW(code, "key identifier " + TBX_Quote(id) + " is not a plain file name", CTX_UNIT,
              LINE_KEY_ID);
}

int TBX_KeyBitsFromSetting(const MvString& value)
{
  static const struct
  {
    const char* text;
    int bits;
  } sizes[] = {{"512", 512}, {"1024", 1024}, {"2048", 2048}, {"3072", 3072}, {"4096", 4096}};
  if (value.empty())
    return KRPT_DEFAULT_KEY_BITS;
  for (const auto& s : sizes) {
    if (value == s.text)
      return s.bits;
  }
  MvString message("KEYBITS must be 512, 1024, 2048, 3072 or 4096, not '");
  message += value;
  message += "'";
  TBX_THROW(TBX_E_INVALID_OPTION, message, CTX_UNIT, LINE_KEY_BITS);
}

/* ---- Key operations on key texts ---------------------------------------------------------- */

void TBX_CreateKeyTexts(int bits, MvString& publicText, MvString& privateText)
{
  unsigned char publicKey[KRPT_KEY_BUFFER_SIZE];
  ScrubbedBuffer privateKey(KRPT_KEY_BUFFER_SIZE);
  int publicLength = sizeof publicKey;
  int privateLength = static_cast<int>(privateKey.size());
  const int rc = KRPT_GenerateKeys(publicKey, &publicLength, privateKey.data(), &privateLength,
                                   nullptr, 0, bits);
  if (rc != 0)
    TBX_THROW(CryptoFailure(rc, TBX_E_CRYPTO), "", CTX_UNIT, LINE_GENKEY_CRYPTO);
  publicText = BufferToHex(publicKey, static_cast<unsigned long>(publicLength));
  privateText = BufferToHex(privateKey.data(), static_cast<unsigned long>(privateLength));
}

void TBX_SignWithKeyText(const MvString& data, const MvString& privateText, MvString& signature)
{
  TBX_WCHARBuffer wide(data);
  ScrubbedBuffer key(TBX_PRIVATE_KEY_BUFFER_SIZE);
  unsigned long keyLength = key.size();
  if (HexDecode(privateText, key.data(), keyLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the key text is not hex, or is longer than a key",
              CTX_UNIT, LINE_SIGN_KEY_BLOB);
  unsigned char sig[KRPT_SIGNATURE_BUFFER_SIZE];
  unsigned long sigLength = sizeof sig;
  const int rc = KRPT_Signature(key.data(), static_cast<int>(keyLength), wide.bytes(),
                                wide.byteLength(), sig, &sigLength);
  if (rc != 0)
    TBX_THROW(CryptoFailure(rc, TBX_E_CRYPTO), "", CTX_UNIT, LINE_SIGN_CRYPTO);
  signature = BufferToHex(sig, sigLength);
}

void TBX_VerifyWithKeyText(const MvString& data, const MvString& publicText,
                           const MvString& signature)
{
  unsigned char key[TBX_PUBLIC_KEY_BUFFER_SIZE];
  unsigned long keyLength = sizeof key;
  if (HexDecode(publicText, key, keyLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the key text is not hex, or is longer than a key",
              CTX_UNIT, LINE_VERIFY_KEY_BLOB);
  // An odd digit would be dropped by the decoder, so one digit appended to a valid signature
  // would still verify; duplicate checks keyed on the text rely on one text per signature.
  unsigned char sig[TBX_SIGNATURE_BUFFER_SIZE];
  unsigned long sigLength = sizeof sig;
  if (signature.size() % 2 != 0 || HexDecode(signature, sig, sigLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the signature is not hex of even length, or is too long",
              CTX_UNIT, LINE_VERIFY_SIGNATURE_BLOB);
  TBX_WCHARBuffer wide(data);
  const int rc =
      KRPT_Verify(key, static_cast<int>(keyLength), wide.bytes(), wide.byteLength(), sig, sigLength);
  if (rc == KRPT_UNSOUND_KEY)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the public key is not a sound RSA key (its exponent must be odd and at least 3, "
              "its modulus odd and of 512 to 4096 bits)",
              CTX_UNIT, LINE_VERIFY_KEY_BLOB);
  if (rc == KRPT_BAD_SIGNATURE_LENGTH)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the signature must have exactly twice as many hex digits as the key has bytes",
              CTX_UNIT, LINE_VERIFY_SIGNATURE_BLOB);
  if (rc != 0)
    TBX_THROW(CryptoFailure(rc, TBX_E_INVALID_SIGNATURE), "", CTX_UNIT, LINE_VERIFY_INVALID);
}

/* ---- What failures say about the store ---------------------------------------------------- */

MvString TBX_Quote(const MvString& text)
{
  const unsigned kShown = 64;
  return "'" + (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "'";
}

MvString TBX_SetupCommand(const MvString& storePath)
{
  return "kestrum -conf -p " + storePath + " -r URL -u USER -w PASSWORD";
}

MvString TBX_SystemErrorText(int err)
{
  char buffer[256];
  // The GNU strerror_r: the text, in `buffer` or in static storage.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return MvString(text != nullptr ? text : "unknown error");
}
