// A configuration store built at test time: config.xml, default.xml, keys/current, the merchant's
// key pair and the host's public key, in a fresh temporary directory removed at the end. The host's
// private key stays with the helper so tests can sign confirmations as the host would.
//
// Reusable by any test that needs a ready store (message, setup, command-line and Java tests), and
// as the program make_test_store for tests that only run executables.
#ifndef TEST_STORE_H
#define TEST_STORE_H

#include <string>
#include <utility>
#include <vector>

namespace tbxtest {

struct StoreOptions
{
  std::string vtUrl = "https://pay.example.test/vt/payinit";
  std::string captureUrl = "http://127.0.0.1:9/capture";  // replace to reach a test host
  std::string customerId = "4711";
  // Attributes of default.xml's TBX element, as XML attribute text; empty: no default.xml.
  std::string defaults =
      "MSGTYPE=\"LoadDefaultsResponse\" LANGID=\"DE\" AMOUNT=\"99\" "
      "FAILLINK=\"https://shop.test/fail\" "
      "ALLOWCOLLECT=\"no\" TBX.ISVALID=\"yes\"";
  bool withCurrentKey = true;
};

class TestStore
{
public:
  explicit TestStore(const StoreOptions& options = StoreOptions());
  // `dir` is created (its parent must exist) and kept when `keep` is true.
  TestStore(const std::string& dir, const StoreOptions& options, bool keep);
  ~TestStore();
  TestStore(const TestStore&) = delete;
  TestStore& operator=(const TestStore&) = delete;

  const std::string& Path() const { return m_Path; }
  const std::string& MerchantKeyId() const { return m_MerchantKeyId; }
  const std::string& HostKeyId() const { return m_HostKeyId; }

  // Store files, by path relative to the store.
  void Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;

  // The signature the host puts on `text` (lower-case hex), and the check of one the merchant put.
  std::string SignAsHost(const std::string& text) const;
  bool VerifyMerchant(const std::string& text, const std::string& signatureHex) const;

private:
  void Build(const StoreOptions& options);

  std::string m_Path;
  bool m_Keep;
  std::string m_MerchantKeyId;
  std::string m_HostKeyId;
};

// The signed bytes of a text: each byte widened to a 16-bit little-endian unit.
std::vector<unsigned char> Widen(const std::string& text);
std::string ToHex(const std::vector<unsigned char>& bytes);
// False on an odd length or a non-hex digit.
bool FromHex(const std::string& hex, std::vector<unsigned char>& bytes);
// Percent-decoding of "%hh"; false on a malformed escape.
bool PercentDecode(const std::string& in, std::string& out);
// The parts of a request or offer target ("...?DATA=...&SIGNATURE=..."): DATA decoded, SIGNATURE as
// sent. False when DATA is missing or malformed.
bool SplitRequest(const std::string& target, std::string& data, std::string& signature);
// Public key texts (hex of DER RSAPublicKey) made from the sound one given, each of which would
// let anyone forge signatures or is no RSA key at all: exponent 1, an even exponent, an even
// modulus. Pairs of a name and the key text.
std::vector<std::pair<std::string, std::string>> UnsoundPublicKeys(const std::string& publicHex);
// The signature text that verifies `text` under a key with exponent 1 and a modulus of `bytes`
// bytes, made without any secret: the padded digest itself.
std::string SignatureForExponentOne(const std::string& text, size_t bytes);

// A new empty directory under TMPDIR (or /tmp).
std::string MakeTempDir(const char* tag);
void RemoveTree(const std::string& path);

}  // namespace tbxtest

#endif
