// The OpenSSL-direct baseline: what a merchant's script around OpenSSL does for one signature or
// one check, with nothing kept between calls.
#ifndef OPENSSL_DIRECT_H
#define OPENSSL_DIRECT_H

#include <string>

// Reads the hex key file, decodes it (d2i_RSAPrivateKey), hashes the text widened to 16-bit units
// with SHA-1, signs the bare digest with PKCS#1 type 1 (RSA_private_encrypt) and writes lower-case
// hex into `signatureHex`. False on any failure.
bool DirectSign(const std::string& keyFile, const std::string& text, std::string& signatureHex);
// The check of the same: d2i_RSAPublicKey, RSA_public_decrypt, the digest compared.
bool DirectVerify(const std::string& keyFile, const std::string& text,
                  const std::string& signatureHex);

#endif
