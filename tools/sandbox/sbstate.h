// The sandbox host's state directory. Each record is one file holding one "TBX" element whose
// attributes are its fields (the same compact form as the messages):
//   host.xml                  the host's key pair: KEYID, PUBLICKEY, PRIVATEKEY (hex DER)
//   accounts/USER.xml         a merchant account: USER, PASSWORD, CUSTOMERID, VERSION
//   merchantkeys/KEYID.xml    a registered merchant key: KEYID, USER, KEYBLOB
//   payments/ID.xml           a payment: ID, TOKEN, USER, KEYID, AMOUNT, CURRENCY, STATE, ...
//   tokens/HASH               the ID of the payment an offer TOKEN of an account created
// Records are read from disk on every use and replaced whole (temporary file and rename).
#ifndef SBSTATE_H
#define SBSTATE_H

#include "sbnocopy.h"
#include "sbxml.h"

#include <mutex>
#include <string>

namespace sandbox {

class State : NonCopyable
{
public:
  ~State();

  // Creates the directory and its records when missing, takes the directory's lock (one host per
  // directory) and loads the host key. False with `error` set when any of it fails.
  bool Open(const std::string& dir, std::string& error);

  const std::string& Dir() const { return m_Dir; }
  const std::string& HostKeyId() const { return m_HostKeyId; }
  const std::string& HostPublicKey() const { return m_HostPublic; }
  const std::string& HostPrivateKey() const { return m_HostPrivate; }

  // Serialises the check-and-update sequences of concurrent requests.
  std::mutex& Mutex() { return m_Mutex; }

  // Record lookups: false when the name is not a usable file name or there is no such record.
  bool FindAccount(const std::string& user, Message& account) const;
  bool FindMerchantKey(const std::string& keyId, Message& key) const;
  bool FindPayment(const std::string& id, Message& payment) const;
  // The payment that an offer with `token` of `user` created.
  bool FindPaymentByToken(const std::string& user, const std::string& token,
                          Message& payment) const;

  bool SaveAccount(const Message& account, std::string& error);
  bool SaveMerchantKey(const Message& key, std::string& error);
  // Writes the payment and (for a new one) its token index.
  bool SavePayment(const Message& payment, std::string& error);

  // Names that may become file names here: name characters only, not starting with '.', at most
  // 200 characters.
  static bool IsFileName(const std::string& name);

private:
  bool LoadRecord(const std::string& path, Message& record) const;
  bool SaveRecord(const std::string& path, const Message& record, std::string& error);
  // Saves `record` as FOLDER/NAME.xml; a `name` that is no file name is refused, the error naming
  // the record as `what`.
  bool SaveNamed(const char* folder, const std::string& name, const char* what,
                 const Message& record, std::string& error);
  std::string TokenPath(const std::string& user, const std::string& token) const;

  std::string m_Dir;
  std::string m_HostKeyId, m_HostPublic, m_HostPrivate;
  int m_LockFd = -1;
  std::mutex m_Mutex;
};

}  // namespace sandbox

#endif
