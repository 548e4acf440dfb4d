#include "test_store.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KrptSign.h"

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

} // namespace

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

namespace {

int HexValue(char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace

bool FromHex(const std::string& hex, std::vector<unsigned char>& bytes)
{
  if (hex.size() % 2 != 0)
    return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
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
    const int hi = HexValue(in[i + 1]);
    const int lo = HexValue(in[i + 2]);
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
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tbx-" +
                        tag + "-XXXXXX";
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

} // namespace tbxtest
