#include "payment_steps.h"

#include <cstdio>

#include "tbxapp.h"

namespace setuptest {

std::string LastErrorMessage()
{
  long length = 0;
  TBX_GetLastErrorMessage(&length, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  if (length <= 0 || TBX_GetLastErrorMessage(&length, &text[0]) != TBX_OK)
    return "<unreadable>";
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

std::string Attribute(void* message, const char* name)
{
  long length = 0;
  if (MessageObject_GetAttribute(message, name, &length, nullptr) != TBX_E_BUFFER_TOO_SMALL)
    return std::string();
  std::string value(static_cast<size_t>(length), '\0');
  if (MessageObject_GetAttribute(message, name, &length, &value[0]) != TBX_OK)
    return std::string();
  value.resize(static_cast<size_t>(length - 1));
  return value;
}

std::string OfferUrl(void* message)
{
  long length = 0;
  if (MessageObject_GetURL(message, &length, nullptr) != TBX_E_BUFFER_TOO_SMALL)
    return std::string();
  std::string url(static_cast<size_t>(length), '\0');
  if (MessageObject_GetURL(message, &length, &url[0]) != TBX_OK)
    return std::string();
  url.resize(static_cast<size_t>(length - 1));
  return url;
}

Handles::~Handles()
{
  DestroyConfigurationSetup(setup);
  DestroyMessageFactory(factory);
  for (void* m : {offer, confirm, capture, again})
    DestroyMessageObject(m);
}

namespace {

// Adds "step: 0x..." (and the error message on failure); true when the step gave `expected`.
bool Step(std::vector<std::string>& out, const char* step, long result, long expected = TBX_OK)
{
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(result) & 0xffffffffUL);
  std::string line = std::string(step) + ": " + code;
  if (result != TBX_OK)
    line += " " + LastErrorMessage();
  out.push_back(line);
  return result == expected;
}

}  // namespace

std::vector<std::string> RunPayment(const Sandbox& host, const std::string& store, bool setUp,
                                    const std::string& amount)
{
  std::vector<std::string> out;
  Handles h;
  if (setUp) {
    h.setup = CreateConfigurationSetup();
    if (!Step(out, "set configuration",
              ConfigurationSetup_SetConfiguration(h.setup, store.c_str())) ||
        !Step(out, "reconfigure",
              ConfigurationSetup_Reconfigure(h.setup, host.setupUrl().c_str(), kUser, kPassword)))
      return out;
  }
  h.factory = CreateMessageFactory();
  if (!Step(out, "open", MessageFactory_Open(h.factory, store.c_str())) ||
      !Step(out, "pay init", MessageFactory_CreatePayInit(h.factory, &h.offer)) ||
      !Step(out, "amount", MessageObject_SetAttribute(h.offer, "AMOUNT", amount.c_str())) ||
      !Step(out, "currency", MessageObject_SetAttribute(h.offer, "CURRENCY", "EUR")))
    return out;
  const std::string token = Attribute(h.offer, "TOKEN");
  const std::string url = OfferUrl(h.offer);
  out.push_back(url.compare(0, host.url().size() + 12, host.url() + "/offer?DATA=") == 0
                    ? "offer url: on the host"
                    : "offer url: " + url);

  int status = 0;
  const std::string page = HttpGet(host.port(), url.substr(host.url().size()), &status);
  out.push_back("authorise: " + std::to_string(status));
  const std::string data = PageLine(page, "DATA");
  const std::string signature = PageLine(page, "SIGNATURE");
  if (!Step(
          out, "confirm",
          MessageFactory_VerifyPayConfirm(h.factory, data.c_str(), signature.c_str(), &h.confirm)))
    return out;
  out.push_back("confirmed: " + Attribute(h.confirm, "MSGTYPE") + " " +
                Attribute(h.confirm, "AMOUNT") + " " + Attribute(h.confirm, "CURRENCY") +
                (Attribute(h.confirm, "TOKEN") == token ? " same token" : " other token"));
  const std::string id = Attribute(h.confirm, "ID");
  if (!Step(out, "pay complete",
            MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.capture)) ||
      !Step(out, "capture", MessageObject_Capture(h.capture)) ||
      !Step(out, "pay complete again",
            MessageFactory_CreatePayComplete(h.factory, id.c_str(), token.c_str(), &h.again)))
    return out;
  const long again = MessageObject_Capture(h.again);
  out.push_back(again == TBX_E_HOST_ERROR &&
                        LastErrorMessage().find("already captured") != std::string::npos
                    ? "capture again: refused as already captured"
                    : "capture again: " + std::to_string(again) + " " + LastErrorMessage());
  return out;
}

std::vector<std::string> ExpectedPayment(bool setUp, const std::string& amount)
{
  std::vector<std::string> lines;
  if (setUp) {
    lines.push_back("set configuration: 0x00000000");
    lines.push_back("reconfigure: 0x00000000");
  }
  for (const char* step : {"open", "pay init", "amount", "currency"})
    lines.push_back(std::string(step) + ": 0x00000000");
  lines.push_back("offer url: on the host");
  lines.push_back("authorise: 302");
  lines.push_back("confirm: 0x00000000");
  lines.push_back("confirmed: PayConfirm " + amount + " EUR same token");
  lines.push_back("pay complete: 0x00000000");
  lines.push_back("capture: 0x00000000");
  lines.push_back("pay complete again: 0x00000000");
  lines.push_back("capture again: refused as already captured");
  return lines;
}

}  // namespace setuptest
