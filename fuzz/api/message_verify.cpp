// MessageFactory_VerifyPayConfirm on any data and signature. The store is made once, with a fixed
// host key (below) so that seeds can carry real signatures; the factory is opened once.
// The first input byte picks how the signature is made, the second parameterises it; the rest is
// the data up to a NUL, then (raw mode) the signature up to the next NUL.
//  - raw: the signature from the input. It verifies only when it is exactly the host's signature
//    of the data (PKCS #1 v1.5 signatures are deterministic: there is one).
//  - signed: the host's signature of the data, made here. It verifies exactly when the data is a
//    TBX element whose KEYID is the host's key.
//  - near miss: the host's signature with one digit changed, the last byte dropped, or a byte of
//    zeros added in front or behind. Never verifies.
//  - merchant: signed with the merchant's own key, which the store holds. Never verifies.
// Every failure returns a code of the verification path and leaves the output handle untouched;
// every verified message reads back its key, carries the store path when it is a PayConfirm, and
// gives no URL.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include "KrptSign.h"
#include "message_fuzz.h"
#include "tbxapp.h"
#include "test_store.h"
#include "xmlElement.h"
#include "xmlParser.h"

namespace {

// A 512-bit RSA key of the test host, PKCS #1 DER as hex; used nowhere but in fuzzing.
const char kHostPrivate[] =
    "3082013d020100024100c3c4bb31c15ec4de25f4117bc944feef611a227a5e7ecd5ff340e13bf51e5d66aee18a9ade"
    "30a0a15a24f61351b8a1ee1fe376f4508e72a0b17bd8adf05675270203010001024100a9e4d27bc48fe513d1263602"
    "12529157d7122237c6480f1da4f27a45595d27ba0f8773de8df480bec2c9cb9e91ad37700e1c67c04dfe3f5e1d7e5e"
    "b1f92bd7b1022100e483e23c95410fe48ad3f4b222e32e6dda9f79aa7f5c7d3d18f8aaab908e3e1f022100db508ec5"
    "40b9bcf35d80ee66beb65edde663ac5afb236e8fbe3f58e98630d7f9022100acf05a813afb98497fff54ca93b896e4"
    "b075cca009ef3720cc0b352ece21b8450221009940bdc390eb39e245e0a6b71d658afd3cd541c781decc8f9dbdde7f"
    "b0c9c8e10221008d0d0dcb3306db34fd847ce8adc03d35701976d20622f466795383a70c8a9e62";
const char kHostPublic[] =
    "3048024100c3c4bb31c15ec4de25f4117bc944feef611a227a5e7ecd5ff340e13bf51e5d66aee18a9ade30a0a15a24"
    "f61351b8a1ee1fe376f4508e72a0b17bd8adf05675270203010001";
const char kHostKeyId[] = "VT-1";

tbxtest::TestStore* g_Store;
void* g_Factory;
EVP_PKEY* g_HostPrivate;
EVP_PKEY* g_MerchantPrivate;

std::vector<unsigned char> Bytes(const std::string& hex)
{
  std::vector<unsigned char> bytes;
  if (!tbxtest::FromHex(hex, bytes))
    std::abort();
  return bytes;
}

// Keys decoded once: decoding per run would cost more than the operation under test. Signing
// here goes to OpenSSL directly, not through the library's own signing code.
EVP_PKEY* Key(const std::vector<unsigned char>& der)
{
  const unsigned char* p = der.data();
  EVP_PKEY* key = d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(der.size()));
  if (key == nullptr)
    std::abort();
  return key;
}

// PKCS #1 v1.5 type 1 around the bare SHA-1 digest of the text widened to 16-bit units.
std::string Sign(EVP_PKEY* key, const std::string& data)
{
  const std::vector<unsigned char> wide = tbxtest::Widen(data);
  unsigned char digest[SHA_DIGEST_LENGTH];
  unsigned int digestLength = 0;
  unsigned char signature[KRPT_SIGNATURE_BUFFER_SIZE];
  size_t length = sizeof signature;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  if (EVP_Digest(wide.data(), wide.size(), digest, &digestLength, EVP_sha1(), nullptr) != 1 ||
      ctx == nullptr || EVP_PKEY_sign_init(ctx) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_sign(ctx, signature, &length, digest, digestLength) != 1)
    std::abort();
  EVP_PKEY_CTX_free(ctx);
  return tbxtest::ToHex(std::vector<unsigned char>(signature, signature + length));
}

// The KEYID of the data's TBX element, read with the parser alone; false when the data holds no
// TBX element.
// KEYID and whether MSGTYPE is exactly "PayConfirm", of a text that parses.
bool KeyIdOf(const std::string& data, std::string& keyId, bool& confirmation)
{
  MvStringStream in;
  in.write(data.data(), static_cast<unsigned>(data.size()));
  // Separate statements: a receiver hands its pointer over at the end of the full expression.
  xmlElementPtr document, top;
  if (xmlParser::parseText(in, document.receive()) != 0)
    return false;
  if (!document->getChild(MvString("TBX"), 0, top.receive()))
    return false;
  MvString value;
  top->getAttribute(MvString("KEYID"), value);
  keyId.assign(value.c_str(), value.size());
  MvString type;
  confirmation = top->getAttribute(MvString("MSGTYPE"), type) && type == "PayConfirm";
  return true;
}

std::string Lower(std::string s)
{
  for (char& c : s)
    if (c >= 'A' && c <= 'F')
      c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// One digit changed to another value, or the length changed: never the host's signature.
std::string NearMiss(const std::string& signature, uint8_t how)
{
  std::string s = signature;
  switch (how % 5) {
  case 0:
  case 1: {
    const size_t at = (how / 5) * 7 % s.size();
    const char* digits = "0123456789abcdef";
    const size_t value = std::string(digits).find(s[at]);
    s[at] = digits[(value + 1 + how % 15) % 16];
    break;
  }
  case 2:
    s.resize(s.size() - 2);
    break;
  case 3:
    s = "00" + s;
    break;
  default:
    s += "00";
    break;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  g_Store = new tbxtest::TestStore();
  g_Store->Write(std::string("keys/public/") + kHostKeyId, kHostPublic);
  g_HostPrivate = Key(Bytes(kHostPrivate));
  g_MerchantPrivate = Key(Bytes(g_Store->Read("keys/private/" + g_Store->MerchantKeyId())));
  g_Factory = CreateMessageFactory();
  if (g_Factory == nullptr || MessageFactory_Open(g_Factory, g_Store->Path().c_str()) != TBX_OK)
    std::abort();
  std::atexit([] {
    DestroyMessageFactory(g_Factory);
    EVP_PKEY_free(g_HostPrivate);
    EVP_PKEY_free(g_MerchantPrivate);
    delete g_Store;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
  if (size < 2)
    return 0;
  const int mode = input[0] % 4;
  const uint8_t how = input[1];
  const std::string rest(reinterpret_cast<const char*>(input) + 2, size - 2);
  const size_t cut = rest.find('\0');
  const std::string data = rest.substr(0, cut);
  std::string signature;
  switch (mode) {
  case 0:
    if (cut != std::string::npos) {
      signature = rest.substr(cut + 1);
      signature = signature.substr(0, signature.find('\0'));
    }
    break;
  case 1:
    signature = Sign(g_HostPrivate, data);
    break;
  case 2:
    signature = NearMiss(Sign(g_HostPrivate, data), how);
    break;
  default:
    signature = Sign(g_MerchantPrivate, data);
    break;
  }

  int sentinel;
  void* out = &sentinel;
  const long r = MessageFactory_VerifyPayConfirm(g_Factory, data.c_str(), signature.c_str(), &out);

  // The parse oracle runs only where it decides something: it costs as much as the call.
  std::string keyId;
  bool confirmation = false;
  const bool oracle = mode == 1 || r == TBX_OK;
  const bool parsed = oracle && KeyIdOf(data, keyId, confirmation);
  if (oracle) {
    bool expected = false;
    if (mode == 0)
      expected = parsed && confirmation && keyId == kHostKeyId && !signature.empty() &&
                 Lower(signature) == Sign(g_HostPrivate, data);
    else if (mode == 1)
      expected = parsed && confirmation && keyId == kHostKeyId;
    if ((r == TBX_OK) != expected)
      std::abort();
  }

  if (r != TBX_OK) {
    if (out != &sentinel)
      std::abort();
    switch (r) {
    case TBX_E_INVALID_FORMAT:
    case TBX_E_MISSING_SIGNATURE:
    case TBX_E_NO_KEY_ID:
    case TBX_E_ITEM_NOT_FOUND:
    case TBX_E_INVALID_KEY_BLOB:
    case TBX_E_INVALID_SIGNATURE:
      break;
    default:
      std::abort();
    }
    // A text that parses is never refused as malformed, nor one that does not for anything else.
    if (oracle && (r == TBX_E_INVALID_FORMAT) == parsed)
      std::abort();
    return 0;
  }

  if (out == &sentinel || out == nullptr)
    std::abort();
  std::string value, type;
  if (!tbxfuzz::Attribute(out, "KEYID", value) || value != kHostKeyId)
    std::abort();
  if (!tbxfuzz::Attribute(out, "MSGTYPE", type) || type != "PayConfirm" ||
      !tbxfuzz::Attribute(out, "CONFIGPATH", value) || value != g_Store->Path())
    std::abort();
  long length = 0;
  if (MessageObject_GetURL(out, &length, nullptr) != TBX_E_UNEXPECTED)
    std::abort();
  tbxfuzz::Text(out);
  DestroyMessageObject(out);
  return 0;
}
