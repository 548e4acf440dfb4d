// The capture URL: captures of authorised payments, payment status and general requests, each
// signed with a registered merchant key.
#include "sbanswer.h"
#include "sbcrypto.h"
#include "sbhost.h"

#include <ctime>

namespace sandbox {

HttpResponse Host::CaptureEndpoint(const HttpRequest& req)
{
  std::string data, signature, error;
  Message request;
  if (!req.Param("DATA", data)) {
    Record("capture", "-");
    return XmlAnswer(ErrorMessage("the request carries no DATA"));
  }
  Record("capture", data);
  if (!Message::Parse(data, request, error))
    return XmlAnswer(ErrorMessage("the request is not readable: " + error));
  req.Param("SIGNATURE", signature);

  auto normal = [&] {
    const std::string keyId = request.Value("KEYID");
    Message key;
    Message answer;
    if (signature.empty())
      answer = ErrorMessage("the request carries no SIGNATURE");
    else if (!m_State.FindMerchantKey(keyId, key))
      answer = ErrorMessage("the merchant key '" + keyId + "' is not registered");
    else if (!Verify(data, key.Value("KEYBLOB"), signature))
      answer = ErrorMessage("the request's signature is not valid");
    else
      answer = CaptureAnswer(request, key);
    Note("capture " + request.Type() + ": " + Outcome(answer));
    return XmlAnswer(answer);
  };
  return Exchange("capture", request, normal);
}

Message Host::CaptureAnswer(const Message& request, const Message& key)
{
  const std::string type = request.Type(), user = key.Value("USER");
  const std::string suffix = "Request";
  if (type == "PayComplete") {
    std::string id, token;
    if (!request.Get("ID", id) || id.empty())
      return ErrorMessage("the capture carries no ID");
    if (!request.Get("TOKEN", token))
      return ErrorMessage("the capture carries no TOKEN");
    std::lock_guard<std::mutex> lock(m_State.Mutex());
    Message payment;
    // Payments of other accounts are as unknown as payments that never were.
    if (!m_State.FindPayment(id, payment) || payment.Value("USER") != user)
      return ErrorMessage("unknown payment '" + id + "'");
    if (payment.Value("TOKEN") != token)
      return ErrorMessage("the TOKEN does not match payment '" + id + "'");
    if (payment.Value("STATE") == "captured")
      return ErrorMessage("payment '" + id + "' already captured");
    payment.Set("STATE", "captured");
    payment.Set("CAPTURED", FormatTime(time(nullptr)));
    std::string error;
    if (!m_State.SavePayment(payment, error))
      return ErrorMessage("the capture could not be stored: " + error);
    Message answer("PayConfirm");
    answer.Set("KEYID", m_State.HostKeyId());
    answer.Set("ID", id);
    answer.Set("TOKEN", token);
    answer.Set("AMOUNT", payment.Value("AMOUNT"));
    answer.Set("CURRENCY", payment.Value("CURRENCY"));
    answer.Set("STATE", "captured");
    return answer;
  }
  if (type.size() >= suffix.size() &&
      type.compare(type.size() - suffix.size(), suffix.size(), suffix) == 0) {
    const std::string base = type.substr(0, type.size() - suffix.size());
    Message answer(base + "Response");
    if (base == "Status") {
      // The state of one of the account's payments.
      std::string id = request.Value("ID");
      std::lock_guard<std::mutex> lock(m_State.Mutex());
      Message payment;
      if (!m_State.FindPayment(id, payment) || payment.Value("USER") != user)
        return ErrorMessage("unknown payment '" + id + "'");
      for (const char* name : {"ID", "AMOUNT", "CURRENCY", "STATE", "AUTHORISED", "CAPTURED"}) {
        std::string value;
        if (payment.Get(name, value))
          answer.Set(name, value);
      }
      return answer;
    }
    // Any other request: its attributes come back, so a caller sees what arrived.
    for (const auto& attr : request.Attributes()) {
      if (attr.first != "MSGTYPE" && attr.first != "KEYID" && attr.first != "CONFIGPATH")
        answer.Set(attr.first, attr.second);
    }
    return answer;
  }
  return ErrorMessage("message type '" + type + "' is not served at the capture URL");
}

}  // namespace sandbox
