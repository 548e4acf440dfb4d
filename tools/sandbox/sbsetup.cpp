// The set-up endpoint: account set-up, defaults, the host key and merchant key registration.
#include "sbanswer.h"
#include "sbcrypto.h"
#include "sbhost.h"

#include <ctime>
#include <openssl/crypto.h>

namespace sandbox {

bool Host::Authenticate(const HttpRequest& req, Message& account) const
{
  std::string auth = req.Header("authorization");
  if (auth.size() < 6)
    return false;
  std::string scheme = auth.substr(0, 6);
  for (char& c : scheme)
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string pair;
  if (scheme != "basic " || !Base64Decode(auth.substr(6), pair))
    return false;
  size_t colon = pair.find(':');
  if (colon == std::string::npos)
    return false;
  std::string user = pair.substr(0, colon), password = pair.substr(colon + 1);
  Message found;
  if (!m_State.FindAccount(user, found))
    return false;
  std::string expected = found.Value("PASSWORD");
  if (expected.empty() || expected.size() != password.size() ||
      CRYPTO_memcmp(expected.data(), password.data(), password.size()) != 0)
    return false;
  account = found;
  return true;
}

HttpResponse Host::SetupEndpoint(const HttpRequest& req)
{
  std::string data, error;
  Message request;
  if (!req.Param("DATA", data)) {
    Record("setup", "-");
    return XmlAnswer(ErrorMessage("the request carries no DATA"));
  }
  Record("setup", data);
  if (!Message::Parse(data, request, error)) {
    Note("setup: unreadable request: " + error);
    return XmlAnswer(ErrorMessage("the request is not readable: " + error));
  }
  auto normal = [&] {
    Message account;
    if (!Authenticate(req, account)) {
      Note("setup " + request.Type() + ": credentials refused");
      HttpResponse resp = XmlAnswer(ErrorMessage("unknown user or wrong password"));
      resp.status = 401;
      resp.headers.emplace_back("WWW-Authenticate", "Basic realm=\"kestrum-sandbox\"");
      return resp;
    }
    Message answer = SetupAnswer(request, account);
    Note("setup " + request.Type() + " from " + account.Value("USER") + ": " + Outcome(answer));
    return XmlAnswer(answer);
  };
  return Exchange("setup", request, normal);
}

Message Host::SetupAnswer(const Message& request, const Message& account)
{
  const std::string type = request.Type();
  if (type == "SetupRequest") {
    Message answer("SetupResponse");
    answer.Set("VERSION", account.Value("VERSION").empty() ? "1" : account.Value("VERSION"));
    answer.Set("CUSTOMERID", account.Value("CUSTOMERID"));
    answer.Set("VTKEYID", m_State.HostKeyId());
    answer.Set("TBX.VTAUTOURL", m_BaseUrl + kSetupPath);
    answer.Set("VTURL", m_BaseUrl + kOfferPath);
    answer.Set("CAPTUREURL", m_BaseUrl + kCapturePath);
    return answer;
  }
  if (type == "LoadDefaultsRequest") {
    Message answer("LoadDefaultsResponse");
    answer.Set("TBX.ISVALID", "yes");
    answer.Set("ALLOWCOLLECT", "no");
    answer.Set("DELIVERY", "no");
    answer.Set("LANGID", "en");
    answer.Set("SUCCESSLINK", m_BaseUrl + kShopSuccessPath);
    answer.Set("FAILLINK", m_BaseUrl + kShopFailPath);
    answer.Set("BACKLINK", m_BaseUrl + kShopBackPath);
    return answer;
  }
  if (type == "KeyQueryRequest") {
    std::string keyId = request.Value("KEYID");
    if (keyId != m_State.HostKeyId())
      return ErrorMessage("unknown host key identifier '" + keyId + "'");
    Message answer("KeyQueryResponse");
    answer.Set("KEYID", keyId);
    answer.Set("KEYBLOB", m_State.HostPublicKey());
    return answer;
  }
  if (type == "KeyExportRequest") {
    std::string keyId = request.Value("KEYID"), blob = request.Value("KEYBLOB");
    const std::string user = account.Value("USER");
    if (!State::IsFileName(keyId) || keyId == m_State.HostKeyId())
      return ErrorMessage("KEYID '" + keyId + "' is not a usable key identifier");
    if (PublicKeyBits(blob) < 512)
      return ErrorMessage("KEYBLOB is not an RSA public key of 512 to 4096 bits");
    std::lock_guard<std::mutex> lock(m_State.Mutex());
    Message existing;
    if (m_State.FindMerchantKey(keyId, existing)) {
      if (existing.Value("USER") != user)
        return ErrorMessage("key identifier '" + keyId + "' belongs to another account");
      if (existing.Value("KEYBLOB") != blob)
        return ErrorMessage("key identifier '" + keyId + "' is registered with another key");
    } else {
      Message key;
      key.Set("KEYID", keyId);
      key.Set("USER", user);
      key.Set("KEYBLOB", blob);
      key.Set("REGISTERED", FormatTime(time(nullptr)));
      std::string error;
      if (!m_State.SaveMerchantKey(key, error))
        return ErrorMessage("the key could not be stored: " + error);
    }
    Message answer("KeyExportResponse");
    answer.Set("KEYID", keyId);
    return answer;
  }
  return ErrorMessage("message type '" + type + "' is not served at the set-up endpoint");
}

}  // namespace sandbox
