#include "tbxmessage.h"

#include "tbxctx.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxexchange.h"
#include "tbxkeys.h"
#include "tbxsource.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmltab.h"

namespace {

MvString Quote(const MvString& text)
{
  return TBX_Quote(text);
}

[[noreturn]] void RefuseKey(const MvString& keyId, const MvString& reason, long line)
{
  TBX_THROW(TBX_E_INVALID_SIGNATURE, "KEYID " + Quote(keyId) + " " + reason, kUnit, line);
}

// Every offer a shopper sees is signed with one of the merchant's keys, whose public halves are
// in keys/public/ beside the host's: such a key must never verify a confirmation. The private
// key is only looked for, never read, and whatever cannot be ruled out counts as present; a
// private-key directory this process may not search (a shop running as another user than the
// set-up) rules out nothing, so there only the host's own key, named by config.xml, gets past.
void CheckNotOwnKey(TBX_Context& context, const MvString& keyId, const MvString& hostKeyId)
{
  const MvString currentFile("keys/current");
  MvString current;
  bool found = false;
  try {
    found = context.QueryValue(currentFile, MvString(), current);
  } catch (const TBX_Exception&) {
    if (context.Probe(currentFile) != TBX_Context::Presence::Absent)
      throw;
  }
  if (found && current == keyId)
    RefuseKey(keyId, "is the merchant's own current key: an offer is no confirmation",
              kSiteOpenOwnKey);
  if (!found && context.Probe(currentFile) != TBX_Context::Presence::Absent)
    RefuseKey(keyId, "cannot be checked: keys/current exists but cannot be read", kSiteOpenOwnKey);

  const TBX_Context::Presence own = context.Probe("keys/private/" + keyId);
  if (own == TBX_Context::Presence::Present ||
      (own == TBX_Context::Presence::Unknown && !(keyId == hostKeyId)))
    RefuseKey(keyId,
              "names a key of keys/private/, the merchant's own: an offer is no confirmation",
              kSiteOpenOwnKey);
}

const char kNoMessage[] = "the message object holds no message: open it on a store first";

// A value of config.xml that set-up writes and a step needs.
MvString ConfigValue(TBX_Context& context, const char* name, long site)
{
  MvString value;
  if (!context.QueryValue(MvString("config.xml"), MvString(name), value))
    TBX_THROW(TBX_E_NO_CONFIGURATION,
              "config.xml of the store " + context.GetPath() + " has no " + name +
                  "; set the store up first",
              kUnit, site);
  return value;
}

// A step that needs an opened message.
void RequireMessage(const TBX_Message& message, long site)
{
  if (message.get() == nullptr || message.GetContext() == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, site);
}

}  // namespace

void TBX_Message::Attach(xmlElement* element)
{
  xmlElementPtr::operator=(element);
  m_Url.clear();
}

bool TBX_Message::ToText(MvString& text) const
{
  xmlElement* root = get();
  if (root == nullptr)
    return false;
  MvStringStream out;
  if (!root->toStream(out))
    return false;
  text = out.str();
  return true;
}

void TBX_Message::Create(TBX_Context* context, const MvString& type)
{
  Attach(nullptr);
  m_Context = context;
  // A failed Create must not leave the key of a store opened before.
  m_KeyId.clear();

  xmlElementPtr root;
  context->XmlCreateRequest(MvString("PayInit"), root.receive());
  Attach(root.get());

  MvString keyId;
  if (!context->QueryValue(MvString("keys/current"), MvString(), keyId)) {
    const MvString store = context->GetPath();
    if (context->Probe(MvString("keys/current")) == TBX_Context::Presence::Absent)
      TBX_THROW(TBX_E_NO_KEY_ID,
                "the store " + store +
                    " has no keys/current, the merchant's key; set the store up first",
                kUnit, kSiteCreateNoKey);
    TBX_THROW(TBX_E_NO_KEY_ID,
              "keys/current of the store " + store + " cannot be read; check its permissions",
              kUnit, kSiteCreateNoKey);
  }
  m_KeyId = keyId;

  get()->setAttribute(MvString("MSGTYPE"), type);
  get()->setAttribute(MvString("KEYID"), m_KeyId);
  if (type == "PayComplete")
    get()->setAttribute(MvString("CONFIGPATH"), context->GetPath());
}

void TBX_Message::Open(TBX_Context* context, const MvString& data, const MvString& signature)
{
  Attach(nullptr);
  m_Context = context;

  xmlElementPtr root;
  try {
    context->XmlFromString(data, root.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold(
        MvString("the confirmation's data is not XML with a TBX element; pass it "
                 "exactly as the host sent it, not URL-encoded"));
  }
  Attach(root.get());

  if (signature.empty())
    TBX_THROW(TBX_E_MISSING_SIGNATURE, "the confirmation came with an empty signature", kUnit,
              kSiteOpenNoSignature);

  MvString keyId;
  if (!get()->getAttribute(MvString("KEYID"), keyId) || keyId.empty())
    TBX_THROW(TBX_E_NO_KEY_ID, "the confirmation names no KEYID", kUnit, kSiteOpenNoKey);
  // The identifier comes from the sender: it must not lead out of keys/.
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);

  // The host signs other messages too (errors, responses): only a confirmation confirms.
  MvString type;
  if (!get()->getAttribute(MvString("MSGTYPE"), type))
    TBX_THROW(TBX_E_INVALID_SIGNATURE, "not a confirmation: the message has no MSGTYPE", kUnit,
              kSiteOpenNotConfirmation);
  if (!(type == "PayConfirm"))
    TBX_THROW(TBX_E_INVALID_SIGNATURE, "not a confirmation: MSGTYPE is " + Quote(type), kUnit,
              kSiteOpenNotConfirmation);

  MvString hostKeyId;
  context->QueryValue(MvString("config.xml"), MvString("VTKEYID"), hostKeyId);
  CheckNotOwnKey(*context, keyId, hostKeyId);

  context->VerifyData(data, keyId, signature);

  // Checked after the key was found, so that a key the store lacks is still reported as such.
  if (hostKeyId.empty())
    RefuseKey(keyId, "cannot be trusted: config.xml names no host key (VTKEYID); set the store up",
              kSiteOpenNotHostKey);
  if (!(keyId == hostKeyId))
    RefuseKey(keyId, "is not the host's key " + Quote(hostKeyId) + " that config.xml names",
              kSiteOpenNotHostKey);

  get()->setAttribute(MvString("CONFIGPATH"), context->GetPath());
}

void TBX_Message::SetAttribute(const MvString& name, const MvString& value)
{
  if (get() == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteSetNoElement);
  if (!xmlIsName(name.c_str(), name.size()))
    TBX_THROW(TBX_E_INVALID_ARGUMENT,
              "invalid attribute name " + Quote(name) +
                  ": a name holds letters, digits, '.', '-' and '_' only",
              kUnit, kSiteSetBadName);
  m_Url.clear();
  get()->setAttribute(name, value);
}

void TBX_Message::GetAttribute(const MvString& name, MvString& value) const
{
  if (get() == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteGetNoElement);
  if (!get()->getAttribute(name, value))
    TBX_THROW(TBX_E_ITEM_NOT_FOUND, "the message has no attribute " + Quote(name), kUnit,
              kSiteGetAbsent);
}

void TBX_Message::GetAttributeNames(MvString& names) const
{
  if (get() == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteGetNoElement);
  get()->getAttributeNames(names);
}

void TBX_Message::GetURL(MvString& url) const
{
  RequireMessage(*this, kSiteUrlNoElement);

  MvStringStream text;
  get()->toStream(text);
  // The text, not a record of changes, decides: the element can be changed through paths
  // (Request, an element handed out) that this class does not see.
  if (m_UrlContext == m_Context && !m_Url.empty() && m_UrlText == text.str() &&
      m_UrlKeyId == m_KeyId) {
    url = m_Url;
    return;
  }

  const MvString base = ConfigValue(*m_Context, "VTURL", kSiteUrlNoVturl);

  MvString signature;
  m_Context->SignData(text.str(), m_KeyId, signature);
  MvString built;
  m_Context->RequestToURL(base, text, signature, built, "VTURL");
  m_Url.clear();  // a failure below leaves no half-updated record
  m_UrlText = text.str();
  m_UrlKeyId = m_KeyId;
  m_UrlContext = m_Context;
  m_Url = built;
  url = built;
}

void TBX_Message::Capture() const
{
  RequireMessage(*this, kSiteCaptureNoElement);
  const MvString endpoint = ConfigValue(*m_Context, "CAPTUREURL", kSiteCaptureNoEndpoint);
  MvString token;
  if (!get()->getAttribute(MvString("TOKEN"), token))
    TBX_THROW(TBX_E_UNEXPECTED, "the capture request has no TOKEN", kUnit, kSiteCaptureNoToken);

  xmlElementPtr answer;
  TBX_Exchange(*m_Context, endpoint, "CAPTUREURL", get(), &m_KeyId, MvString("PayConfirm"), answer);
}

void TBX_Message::Request(TBX_Message& response)
{
  RequireMessage(*this, kSiteRequestNoElement);
  MvString type;
  get()->getAttribute(MvString("MSGTYPE"), type);
  get()->setAttribute(MvString("MSGTYPE"), type + "Request");
  const MvString endpoint = ConfigValue(*m_Context, "CAPTUREURL", kSiteRequestNoEndpoint);

  xmlElementPtr answer;
  TBX_Exchange(*m_Context, endpoint, "CAPTUREURL", get(), &m_KeyId, type + "Response", answer);
  response.Attach(answer.get());
}
