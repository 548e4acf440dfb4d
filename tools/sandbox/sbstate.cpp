#include "sbstate.h"

#include "sbcrypto.h"
#include "sbfile.h"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <unistd.h>

namespace sandbox {

namespace {

// The account a fresh state directory holds.
constexpr const char* kDefaultUser = "e40215536";
constexpr const char* kDefaultPassword = "Pq7mWz2L";
constexpr const char* kDefaultCustomerId = "40215";

// Bits of the host's own RSA key. The client recovers signatures into 128 bytes, which bounds the
// host key at 1024 bits.
constexpr int kHostKeyBits = 1024;

constexpr size_t kMaxRecord = 64 * 1024;

const char* const kSubdirs[] = {"accounts", "merchantkeys", "payments", "tokens"};

}  // namespace

State::~State()
{
  if (m_LockFd >= 0)
    ::close(m_LockFd);
}

bool State::IsFileName(const std::string& name)
{
  return Message::IsName(name) && name[0] != '.' && name.size() <= 200;
}

bool State::Open(const std::string& dir, std::string& error)
{
  std::string base = dir;
  while (base.size() > 1 && base.back() == '/')
    base.pop_back();
  if (!MakeDirs(base, 0700, error))
    return false;
  m_Dir = base;

  m_LockFd = ::open((m_Dir + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_LockFd < 0) {
    error = "cannot open '" + m_Dir + "/lock': " + ErrnoText(errno);
    return false;
  }
  if (::flock(m_LockFd, LOCK_EX | LOCK_NB) != 0) {
    error = "the state directory '" + m_Dir + "' is in use by another sandbox host";
    return false;
  }

  bool fresh = !FileExists(m_Dir + "/host.xml");
  for (const char* sub : kSubdirs) {
    if (!MakeDirs(m_Dir + "/" + sub, 0700, error))
      return false;
  }

  Message host;
  if (fresh) {
    KeyPair pair;
    if (!GenerateKeyPair(kHostKeyBits, pair)) {
      error = "cannot generate the host key";
      return false;
    }
    // Host key identifiers start with "1-", merchant ones with "0-".
    host.Set("KEYID", "1-" + RandomText(16, "0123456789abcdef"));
    host.Set("PUBLICKEY", pair.publicHex);
    host.Set("PRIVATEKEY", pair.privateHex);
    Message account;
    account.Set("USER", kDefaultUser);
    account.Set("PASSWORD", kDefaultPassword);
    account.Set("CUSTOMERID", kDefaultCustomerId);
    account.Set("VERSION", "1");
    // The account before the host key: host.xml marks a completed first start.
    if (!SaveAccount(account, error) || !SaveRecord(m_Dir + "/host.xml", host, error))
      return false;
  } else if (!LoadRecord(m_Dir + "/host.xml", host)) {
    error = "'" + m_Dir + "/host.xml' is not a readable host key record";
    return false;
  }
  m_HostKeyId = host.Value("KEYID");
  m_HostPublic = host.Value("PUBLICKEY");
  m_HostPrivate = host.Value("PRIVATEKEY");
  std::string probe;
  if (!IsFileName(m_HostKeyId) || PublicKeyBits(m_HostPublic) == 0 ||
      !Sign("probe", m_HostPrivate, probe) || !Verify("probe", m_HostPublic, probe)) {
    error = "'" + m_Dir + "/host.xml' holds no usable key pair";
    return false;
  }
  return true;
}

bool State::LoadRecord(const std::string& path, Message& record) const
{
  std::string text, ignored;
  return ReadFile(path, text, kMaxRecord) && Message::Parse(text, record, ignored);
}

bool State::SaveRecord(const std::string& path, const Message& record, std::string& error)
{
  return WriteFileAtomic(path, record.ToText(), 0600, error);
}

bool State::FindAccount(const std::string& user, Message& account) const
{
  return IsFileName(user) && LoadRecord(m_Dir + "/accounts/" + user + ".xml", account) &&
         account.Value("USER") == user;
}

bool State::FindMerchantKey(const std::string& keyId, Message& key) const
{
  return IsFileName(keyId) && LoadRecord(m_Dir + "/merchantkeys/" + keyId + ".xml", key) &&
         key.Value("KEYID") == keyId;
}

bool State::FindPayment(const std::string& id, Message& payment) const
{
  return IsFileName(id) && LoadRecord(m_Dir + "/payments/" + id + ".xml", payment) &&
         payment.Value("ID") == id;
}

std::string State::TokenPath(const std::string& user, const std::string& token) const
{
  // Tokens are the merchant's text: hashed, so any token makes a safe file name.
  std::string key = user + '\n' + token;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(key.data(), key.size(), digest, &len, EVP_sha256(), nullptr);
  return m_Dir + "/tokens/" + ToHex(std::string(reinterpret_cast<char*>(digest), len));
}

bool State::FindPaymentByToken(const std::string& user, const std::string& token,
                               Message& payment) const
{
  std::string id;
  if (!ReadFile(TokenPath(user, token), id, 256))
    return false;
  return FindPayment(id, payment) && payment.Value("USER") == user &&
         payment.Value("TOKEN") == token;
}

bool State::SaveNamed(const char* folder, const std::string& name, const char* what,
                      const Message& record, std::string& error)
{
  if (!IsFileName(name)) {
    error = "'" + name + "' cannot name " + what;
    return false;
  }
  return SaveRecord(m_Dir + "/" + folder + "/" + name + ".xml", record, error);
}

bool State::SaveAccount(const Message& account, std::string& error)
{
  return SaveNamed("accounts", account.Value("USER"), "an account", account, error);
}

bool State::SaveMerchantKey(const Message& key, std::string& error)
{
  return SaveNamed("merchantkeys", key.Value("KEYID"), "a key", key, error);
}

bool State::SavePayment(const Message& payment, std::string& error)
{
  const std::string id = payment.Value("ID");
  const std::string tokenPath = TokenPath(payment.Value("USER"), payment.Value("TOKEN"));
  return SaveNamed("payments", id, "a payment", payment, error) &&
         (FileExists(tokenPath) || WriteFileAtomic(tokenPath, id, 0600, error));
}

}  // namespace sandbox
