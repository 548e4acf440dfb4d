#include "test_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KrptSign.h"
#include "mvbytes.h"

#include <openssl/evp.h>

namespace tbxtest {

namespace {

struct KeyPair
{
  std::vector<unsigned char> publicDer;
  std::vector<unsigned char> privateDer;
};

KeyPair Generate()
{
  unsigned char pub[KRPT_KEY_BUFFER_SIZE];
  unsigned char priv[KRPT_KEY_BUFFER_SIZE];
  int pubLength = sizeof pub;
  int privLength = sizeof priv;
  if (KRPT_GenerateKeys(pub, &pubLength, priv, &privLength, nullptr, 0) != 0)
    throw std::runtime_error("key generation failed");
  return KeyPair{std::vector<unsigned char>(pub, pub + pubLength),
                 std::vector<unsigned char>(priv, priv + privLength)};
}

// Key generation dominates a store's cost: one merchant and one host pair serve every store of
// the process.
const KeyPair& MerchantKeys()
{
  static const KeyPair keys = Generate();
  return keys;
}

const KeyPair& HostKeys()
{
  static const KeyPair keys = Generate();
  return keys;
}

void MakeDir(const std::string& path)
{
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot create " + path);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
  return ::remove(path);
}

// DER: one element's tag, content and the position after it; false when it does not fit.
bool ReadDer(const std::vector<unsigned char>& der, size_t& at, unsigned char& tag,
             std::vector<unsigned char>& content)
{
  if (at + 2 > der.size())
    return false;
  tag = der[at++];
  size_t length = der[at++];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    length = 0;
    for (size_t i = 0; i < count && at < der.size(); ++i)
      length = length << 8 | der[at++];
  }
  if (at + length > der.size())
    return false;
  content.assign(der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(at + length));
  at += length;
  return true;
}

std::vector<unsigned char> WriteDer(unsigned char tag, const std::vector<unsigned char>& content)
{
  std::vector<unsigned char> out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<unsigned char>(n));
  } else if (n < 0x100) {
    out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
  } else {
    out.insert(out.end(),
               {0x82, static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

std::string PublicKeyText(const std::vector<unsigned char>& n, const std::vector<unsigned char>& e)
{
  std::vector<unsigned char> body = WriteDer(0x02, n);
  const std::vector<unsigned char> exponent = WriteDer(0x02, e);
  body.insert(body.end(), exponent.begin(), exponent.end());
  return ToHex(WriteDer(0x30, body));
}

}  // namespace

std::vector<std::pair<std::string, std::string>> UnsoundPublicKeys(const std::string& publicHex)
{
  std::vector<unsigned char> der, sequence, n, e;
  size_t at = 0, inner = 0;
  unsigned char tag = 0;
  if (!FromHex(publicHex, der) || !ReadDer(der, at, tag, sequence) ||
      !ReadDer(sequence, inner, tag, n) || !ReadDer(sequence, inner, tag, e))
    throw std::runtime_error("not an RSA public key text");
  std::vector<unsigned char> evenN = n;
  evenN.back() &= 0xFE;
  return {{"exponent 1", PublicKeyText(n, {0x01})},
          {"even exponent", PublicKeyText(n, {0x01, 0x00, 0x00})},
          {"even modulus", PublicKeyText(evenN, e)}};
}

std::string SignatureForExponentOne(const std::string& text, size_t bytes)
{
  const std::vector<unsigned char> wide = Widen(text);
  unsigned char digest[20];
  unsigned int digestLength = 0;
  EVP_Digest(wide.data(), wide.size(), digest, &digestLength, EVP_sha1(), nullptr);
  std::vector<unsigned char> block(bytes, 0xFF);
  block[0] = 0x00;
  block[1] = 0x01;
  block[bytes - 21] = 0x00;
  std::copy(digest, digest + 20, block.end() - 20);
  return ToHex(block);
}

std::vector<unsigned char> Widen(const std::string& text)
{
  std::vector<unsigned char> wide;
  wide.reserve(text.size() * 2);
  for (unsigned char c : text) {
    wide.push_back(c);
    wide.push_back(0);
  }
  return wide;
}

std::string ToHex(const std::vector<unsigned char>& bytes)
{
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

bool FromHex(const std::string& hex, std::vector<unsigned char>& bytes)
{
  if (hex.size() % 2 != 0)
    return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = MvHexValue(hex[i]);
    const int lo = MvHexValue(hex[i + 1]);
    if (hi < 0 || lo < 0)
      return false;
    bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
  }
  return true;
}

bool PercentDecode(const std::string& in, std::string& out)
{
  out.clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size())
      return false;
    const int hi = MvHexValue(in[i + 1]);
    const int lo = MvHexValue(in[i + 2]);
    if (hi < 0 || lo < 0)
      return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool SplitRequest(const std::string& target, std::string& data, std::string& signature)
{
  const size_t d = target.find("?DATA=");
  if (d == std::string::npos)
    return false;
  const size_t s = target.find("&SIGNATURE=", d);
  const std::string encoded =
      target.substr(d + 6, s == std::string::npos ? std::string::npos : s - d - 6);
  signature = s == std::string::npos ? "" : target.substr(s + 11);
  return PercentDecode(encoded, data);
}

std::string MakeTempDir(const char* tag)
{
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tbx-" + tag + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  return std::string(buffer.data());
}

void RemoveTree(const std::string& path)
{
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

TestStore::TestStore(const StoreOptions& options) : m_Path(MakeTempDir("store")), m_Keep(false)
{
  Build(options);
}

TestStore::TestStore(const std::string& dir, const StoreOptions& options, bool keep)
    : m_Path(dir), m_Keep(keep)
{
  MakeDir(m_Path);
  Build(options);
}

TestStore::~TestStore()
{
  if (!m_Keep)
    RemoveTree(m_Path);
}

void TestStore::Build(const StoreOptions& options)
{
  m_MerchantKeyId = "0-" + options.customerId + "-5f0c2a7e9b1d4c3aa8e6f1b2c3d4e5f6";
  m_HostKeyId = "VT-1";
  MakeDir(m_Path + "/keys");
  MakeDir(m_Path + "/keys/private");
  MakeDir(m_Path + "/keys/public");
  Write("config.xml", "<TBX MSGTYPE=\"SetupResponse\" VERSION=\"3\" CUSTOMERID=\"" +
                          options.customerId + "\" VTKEYID=\"" + m_HostKeyId +
                          "\" TBX.VTAUTOURL=\"http://127.0.0.1:9/setup\" VTURL=\"" + options.vtUrl +
                          "\" CAPTUREURL=\"" + options.captureUrl + "\"/>");
  if (!options.defaults.empty())
    Write("default.xml", "<TBX " + options.defaults + "/>");
  Write("keys/public/" + m_MerchantKeyId, ToHex(MerchantKeys().publicDer));
  Write("keys/private/" + m_MerchantKeyId, ToHex(MerchantKeys().privateDer));
  Write("keys/public/" + m_HostKeyId, ToHex(HostKeys().publicDer));
  if (options.withCurrentKey)
    Write("keys/current", m_MerchantKeyId);
}

void TestStore::Write(const std::string& relative, const std::string& content) const
{
  std::ofstream out(m_Path + "/" + relative, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out)
    throw std::runtime_error("cannot write " + relative);
}

std::string TestStore::Read(const std::string& relative) const
{
  std::ifstream in(m_Path + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool TestStore::Exists(const std::string& relative) const
{
  struct stat st;
  return ::stat((m_Path + "/" + relative).c_str(), &st) == 0;
}

std::string TestStore::SignAsHost(const std::string& text) const
{
  const std::vector<unsigned char> wide = Widen(text);
  const KeyPair& host = HostKeys();
  unsigned char signature[KRPT_SIGNATURE_BUFFER_SIZE];
  unsigned long length = sizeof signature;
  if (KRPT_Signature(host.privateDer.data(), static_cast<int>(host.privateDer.size()), wide.data(),
                     wide.size(), signature, &length) != 0)
    throw std::runtime_error("host signing failed");
  return ToHex(std::vector<unsigned char>(signature, signature + length));
}

bool TestStore::VerifyMerchant(const std::string& text, const std::string& signatureHex) const
{
  std::vector<unsigned char> signature;
  if (!FromHex(signatureHex, signature))
    return false;
  const std::vector<unsigned char> wide = Widen(text);
  const KeyPair& merchant = MerchantKeys();
  return KRPT_Verify(merchant.publicDer.data(), static_cast<int>(merchant.publicDer.size()),
                     wide.data(), wide.size(), signature.data(), signature.size()) == 0;
}

}  // namespace tbxtest
