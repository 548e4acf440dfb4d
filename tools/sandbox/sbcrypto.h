// Keys, signatures and text encodings of the sandbox host, interoperable with the client component:
// keys travel and rest as lowercase hex of their PKCS#1 DER form, and a signature is the PKCS#1
// v1.5 type 1 block over the bare SHA-1 digest of the text widened to 16-bit units (each byte b
// becomes b, 0), written as lowercase hex.
#ifndef SBCRYPTO_H
#define SBCRYPTO_H

#include <string>

namespace sandbox {

// "%02x" of every byte.
std::string ToHex(const std::string& bytes);
// Hex digits of either case, an even number of them; false (out untouched) otherwise.
bool FromHex(const std::string& hex, std::string& out);

// The client's URL encoding: ASCII letters and digits stay, every other byte becomes "%" and two
// lowercase hex digits.
std::string UrlEncode(const std::string& text);
// Undoes "%XX" (either case) and turns '+' into a space. False on a malformed escape.
bool UrlDecode(const std::string& text, std::string& out);

// Standard Base64 (with padding); false on anything that is not.
bool Base64Decode(const std::string& text, std::string& out);

// Cryptographically random text of `length` characters drawn from `alphabet`.
std::string RandomText(size_t length, const std::string& alphabet);

// An RSA key pair as hex DER texts: `privateHex` is PKCS#1 RSAPrivateKey, `publicHex` RSAPublicKey.
struct KeyPair
{
  std::string publicHex;
  std::string privateHex;
};
bool GenerateKeyPair(int bits, KeyPair& out);

// Bits of a hex DER RSAPublicKey, or 0 when it is not one.
int PublicKeyBits(const std::string& publicHex);

// Signs `text` with the hex DER private key; false when the key is unusable.
bool Sign(const std::string& text, const std::string& privateHex, std::string& signatureHex);
// True only when `signatureHex` is a valid signature of `text` under the hex DER public key.
bool Verify(const std::string& text, const std::string& publicHex, const std::string& signatureHex);

// Creates (or reuses) the TLS material in `dir`: ca.pem/ca.key (a CA made here) and
// server.pem/server.key (a certificate for IP 127.0.0.1 and DNS localhost signed by that CA).
// Existing files are reused while the server certificate is valid for at least another day.
bool EnsureTlsMaterial(const std::string& dir, std::string& error);

}  // namespace sandbox

#endif
