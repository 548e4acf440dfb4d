/*
 * tbxkeys.cpp - keys and signatures: the steps on key texts, and the store's key files around
 * them.
 */
#include "tbxkeys.h"

#include "KrptSign.h"
#include "mvbytes.h"
#include "mvobject.h"
#include "tbxbase.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxstore.h"
#include "tbxutil.h"

#include <openssl/crypto.h>

#include <cstring>
#include <new>

#include <strings.h>

namespace {

const char kPrivateKeyDir[] = "keys/private/";
const char kPublicKeyDir[] = "keys/public/";

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

// Wipes the text of a private key when it goes out of scope, on every path out.
class WipeOnExit
{
public:
  explicit WipeOnExit(MvString& text) : m_Text(text) {}
  ~WipeOnExit()
  {
    if (m_Text.begin() != nullptr)
      OPENSSL_cleanse(m_Text.begin(), m_Text.size());
  }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
  MvString& m_Text;
};

// A key operation's failure told with the key file it used.
MvString KeyFileDetail(const MvString& path, const TBX_Exception& e)
{
  return "key file " + path + (e.m_Detail.empty() ? MvString() : ": " + e.m_Detail);
}

}  // namespace

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
  return !TBX_LooksTemporary(id);
}

bool TBX_LooksTemporary(const MvString& id)
{
  const unsigned n = id.size();
  const unsigned marker = sizeof(TBX_TEMP_MARKER) - 1;
  if (n >= marker && std::memcmp(id.c_str(), TBX_TEMP_MARKER, marker) == 0)
    return true;
  // The form earlier versions gave their temporary files, and still remove: "." + name + ".tmp-"
  // + 12 hex digits.
  const unsigned tail = sizeof(".tmp-") - 1 + 12;
  if (n < 1 + tail || id[0] != '.' || std::memcmp(id.c_str() + n - tail, ".tmp-", 5) != 0)
    return false;
  for (unsigned i = n - 12; i < n; ++i) {
    if (!MvIsHexDigit(id[i]))
      return false;
  }
  return true;
}

void TBX_CheckKeyId(const MvString& id, long code)
{
  if (!TBX_IsPlainKeyId(id))
    TBX_THROW(code,
              "key identifier " + TBX_Quote(id) +
                  (TBX_LooksTemporary(id) ? " has the form of a temporary file's name"
                                          : " is not a plain file name"),
              kUnit, kSiteKeyId);
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
  TBX_THROW(TBX_E_INVALID_OPTION, message, kUnit, kSiteKeyBits);
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
    TBX_THROW(CryptoFailure(rc, TBX_E_CRYPTO), "", kUnit, kSiteGenKeyCrypto);
  publicText = MvHexEncode(publicKey, static_cast<unsigned long>(publicLength));
  privateText = MvHexEncode(privateKey.data(), static_cast<unsigned long>(privateLength));
}

void TBX_SignWithKeyText(const MvString& data, const MvString& privateText, MvString& signature)
{
  TBX_WCHARBuffer wide(data);
  ScrubbedBuffer key(KRPT_KEY_BUFFER_SIZE);
  unsigned long keyLength = key.size();
  if (MvHexDecode(privateText.c_str(), privateText.size(), key.data(), keyLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the key text is not hex, or is longer than a key", kUnit,
              kSiteSignKeyBlob);
  unsigned char sig[KRPT_SIGNATURE_BUFFER_SIZE];
  unsigned long sigLength = sizeof sig;
  const int rc = KRPT_Signature(key.data(), static_cast<int>(keyLength), wide.bytes(),
                                wide.byteLength(), sig, &sigLength);
  if (rc != 0)
    TBX_THROW(CryptoFailure(rc, TBX_E_CRYPTO), "", kUnit, kSiteSignCrypto);
  signature = MvHexEncode(sig, sigLength);
}

void TBX_VerifyWithKeyText(const MvString& data, const MvString& publicText,
                           const MvString& signature)
{
  unsigned char key[KRPT_PUBLIC_KEY_BUFFER_SIZE];
  unsigned long keyLength = sizeof key;
  if (MvHexDecode(publicText.c_str(), publicText.size(), key, keyLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the key text is not hex, or is longer than a key", kUnit,
              kSiteVerifyKeyBlob);
  // An odd digit would be dropped by the decoder, so one digit appended to a valid signature
  // would still verify; duplicate checks keyed on the text rely on one text per signature.
  unsigned char sig[KRPT_RECEIVED_SIGNATURE_BUFFER_SIZE];
  unsigned long sigLength = sizeof sig;
  if (signature.size() % 2 != 0 ||
      MvHexDecode(signature.c_str(), signature.size(), sig, sigLength) != 0)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB, "the signature is not hex of even length, or is too long",
              kUnit, kSiteVerifySignatureBlob);
  TBX_WCHARBuffer wide(data);
  const int rc = KRPT_Verify(key, static_cast<int>(keyLength), wide.bytes(), wide.byteLength(), sig,
                             sigLength);
  if (rc == KRPT_UNSOUND_KEY)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the public key is not a sound RSA key (its exponent must be odd and at least 3, "
              "its modulus odd and of 512 to 4096 bits)",
              kUnit, kSiteVerifyKeyBlob);
  if (rc == KRPT_BAD_SIGNATURE_LENGTH)
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the signature must have exactly twice as many hex digits as the key has bytes",
              kUnit, kSiteVerifySignatureBlob);
  if (rc != 0)
    TBX_THROW(CryptoFailure(rc, TBX_E_INVALID_SIGNATURE), "", kUnit, kSiteVerifyInvalid);
}

/* ---- The store's key files ---------------------------------------------------------------- */

void TBX_Keys::GenKey(const MvString& keyId)
{
  // New identifiers carry the host's CUSTOMERID: a bad one is the host's fault.
  TBX_CheckKeyId(keyId, TBX_E_INVALID_FORMAT);
  TBX_Store::WriteLock lock(m_Store);
  MvString bitsText;
  m_Store.QueryValue(MvString("settings.xml"), MvString("KEYBITS"), bitsText);
  const int bits = TBX_KeyBitsFromSetting(bitsText);
  MvString publicText;
  MvString privateText;
  WipeOnExit wipe(privateText);
  TBX_CreateKeyTexts(bits, publicText, privateText);
  m_Store.UpdateFile(kPublicKeyDir + keyId, publicText);
  m_Store.UpdateFile(kPrivateKeyDir + keyId, privateText);
}

void TBX_Keys::SignData(const MvString& data, const MvString& keyId, MvString& signature)
{
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);
  MvString keyText;
  WipeOnExit wipe(keyText);
  const MvString file = kPrivateKeyDir + keyId;
  if (!m_Store.QueryValue(file, MvString(), keyText) || keyText.empty())
    TBX_THROW(TBX_E_ITEM_NOT_FOUND,
              "the store " + m_Store.GetPath() + " has no " + file +
                  ", the key that keys/current names; set the store up again",
              kUnit, kSiteSignNoKey);
  try {
    TBX_SignWithKeyText(data, keyText, signature);
  } catch (const TBX_Exception& e) {
    throw e.Retold(KeyFileDetail(m_Store.StoreFilePath(file), e));
  }
}

bool TBX_Keys::ReadPublicKey(const MvString& keyId, MvString& keyText, bool followLink)
{
  // What a received message caused is told with the store's own names only: a shop may show
  // these messages to whoever sent it.
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);
  const MvString file = kPublicKeyDir + keyId;
  bool link = false;
  const bool found = followLink ? m_Store.QueryValue(file, MvString(), keyText)
                                : m_Store.QueryPlainFile(file, keyText, link);
  if (link)
    return false;
  if (!found || keyText.empty())
    TBX_THROW(TBX_E_ITEM_NOT_FOUND,
              "the store has no " + file +
                  ", the key KEYID names; if the host uses a new key, "
                  "set the store up again",
              kUnit, kSiteVerifyNoKey);
  return true;
}

void TBX_Keys::VerifyWithPublicKey(const MvString& data, const MvString& keyId,
                                   const MvString& keyText, const MvString& signature)
{
  try {
    TBX_VerifyWithKeyText(data, keyText, signature);
  } catch (const TBX_Exception& e) {
    const MvString file = kPublicKeyDir + keyId;
    if (e.m_Result != TBX_E_INVALID_SIGNATURE)
      throw e.Retold(KeyFileDetail(file, e));
    throw e.Retold("the signature does not verify under " + file +
                   "; the message was changed, or was not passed exactly as the host sent it");
  }
}

void TBX_Keys::VerifyData(const MvString& data, const MvString& keyId, const MvString& signature,
                          MvString* usedKeyText)
{
  MvString keyText;
  ReadPublicKey(keyId, keyText, true);
  VerifyWithPublicKey(data, keyId, keyText, signature);
  if (usedKeyText != nullptr)
    *usedKeyText = keyText;
}

bool TBX_Keys::IsOwnPublicKey(const MvString& keyText, const MvString& currentKeyId)
{
  MvString own;
  return TBX_IsPlainKeyId(currentKeyId) &&
         m_Store.QueryValue(kPublicKeyDir + currentKeyId, MvString(), own) &&
         own.size() == keyText.size() && !own.empty() &&
         strncasecmp(own.c_str(), keyText.c_str(), own.size()) == 0;
}

bool TBX_Keys::IsPublicKeyText(const MvString& text)
{
  if (text.empty() || text.size() % 2 != 0)
    return false;
  unsigned char der[KRPT_PUBLIC_KEY_BUFFER_SIZE];
  unsigned long length = sizeof der;
  if (MvHexDecode(text.c_str(), text.size(), der, length) != 0)
    return false;
  return KRPT_CheckPublicKey(der, static_cast<int>(length)) == 0;
}

MvString TBX_Keys::BufferToHex(const unsigned char* buffer, unsigned long length)
{
  return MvHexEncode(buffer, length);
}

long TBX_Keys::HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length)
{
  return MvHexDecode(text.c_str(), text.size(), buffer, length);
}

MvString TBX_Keys::Encode(const MvString& text)
{
  return MvPercentEncode(text.c_str(), text.size(), MvPercentKeep::kAlnum);
}

void TBX_Keys::SlToBackSl(MvString& text)
{
  for (unsigned i = 0; i < text.size(); ++i) {
    if (text[i] == '/')
      text[i] = '\\';
  }
}
