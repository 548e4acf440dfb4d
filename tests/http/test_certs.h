// TLS material made at test time: a private CA, certificates it signs for chosen names, a
// self-signed certificate, and server contexts serving them.
#ifndef TBX_TESTS_TEST_CERTS_H
#define TBX_TESTS_TEST_CERTS_H

#include <cstdio>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace tbxtest {

struct KeyFree
{
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree
{
  void operator()(X509* x) const { X509_free(x); }
};
struct CtxFree
{
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;
using CtxPtr = std::unique_ptr<SSL_CTX, CtxFree>;

inline KeyPtr NewKey()
{
  return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
}

// A certificate for `cn` with subjectAltName `san` ("DNS:localhost,IP:127.0.0.1"; empty for
// none), signed by `issuerKey` under `issuer` (null: self-signed). `ca` makes it a CA.
inline CertPtr NewCert(EVP_PKEY* key, const std::string& cn, const std::string& san, X509* issuer,
                       EVP_PKEY* issuerKey, bool ca)
{
  static long serial = 1;
  CertPtr x(X509_new());
  X509_set_version(x.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), 86400);
  X509_set_pubkey(x.get(), key);
  X509_NAME* name = X509_get_subject_name(x.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
  X509_set_issuer_name(x.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);

  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer != nullptr ? issuer : x.get(), x.get(), nullptr, nullptr, 0);
  auto add = [&](int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext != nullptr) {
      X509_add_ext(x.get(), ext, -1);
      X509_EXTENSION_free(ext);
    }
  };
  add(NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
  if (ca)
    add(NID_key_usage, "critical,keyCertSign,cRLSign");
  add(NID_subject_key_identifier, "hash");
  if (!san.empty())
    add(NID_subject_alt_name, san);
  X509_sign(x.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256());
  return x;
}

inline bool WritePem(const std::string& path, X509* cert)
{
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr)
    return false;
  bool ok = PEM_write_X509(f, cert) == 1;
  std::fclose(f);
  return ok;
}

inline CtxPtr ServerContext(X509* cert, EVP_PKEY* key)
{
  CtxPtr ctx(SSL_CTX_new(TLS_server_method()));
  SSL_CTX_use_certificate(ctx.get(), cert);
  SSL_CTX_use_PrivateKey(ctx.get(), key);
  return ctx;
}

// A CA and the server certificates the TLS tests need.
struct TestPki
{
  KeyPtr caKey = NewKey();
  CertPtr ca = NewCert(caKey.get(), "Kestrum Test CA", "", nullptr, nullptr, true);
  KeyPtr serverKey = NewKey();
  // Good for "localhost" and 127.0.0.1 and ::1.
  CertPtr good = NewCert(serverKey.get(), "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1",
                         ca.get(), caKey.get(), false);
  // Signed by the CA, but for another name.
  CertPtr wrongHost =
      NewCert(serverKey.get(), "wrong.example", "DNS:wrong.example", ca.get(), caKey.get(), false);
  // Names the right host, but vouched for by nobody.
  CertPtr selfSigned =
      NewCert(serverKey.get(), "localhost", "DNS:localhost,IP:127.0.0.1", nullptr, nullptr, false);
};

}  // namespace tbxtest

#endif
