#include "tbxmessage.h"

#include <string>

#include "tbxctx.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxkeys.h"
#include "tbxmsgtype.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmltab.h"

namespace {

[[noreturn]] void RefuseKey(const MvString& keyId, const MvString& reason, long line)
{
  TBX_THROW(TBX_E_INVALID_SIGNATURE, "KEYID " + TBX_Quote(keyId) + " " + reason, kUnit, line);
}

// Every offer a shopper sees is signed with one of the merchant's keys, whose public halves are
// in keys/public/ beside the host's: such a key must never verify a confirmation. The private
// key is only looked for, never read, and whatever cannot be ruled out counts as present; a
// private-key directory this process may not search (a shop running as another user than the
// set-up) rules out nothing, so there only the host's own key, named by config.xml, gets past.
// Answers the merchant's current key identifier (empty when the store has none).
MvString CheckNotOwnKey(TBX_Context& context, const MvString& keyId, const MvString& hostKeyId)
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
  return found ? current : MvString();
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
  if (!message.HasElement() || message.GetContext() == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, site);
}

}  // namespace

void TBX_Message::Replace(xmlElement* element)
{
  m_Element = element;
  ++m_Revision;
}

void TBX_Message::Set(const char* name, const MvString& value)
{
  m_Element->setAttribute(MvString(name), value);
  ++m_Revision;
}

void TBX_Message::Attach(xmlElementPtr& element)
{
  Replace(element.get());
  element = nullptr;
}

bool TBX_Message::ToText(MvString& text) const
{
  if (!HasElement())
    return false;
  MvStringStream out;
  if (!m_Element->toStream(out))
    return false;
  text = out.str();
  return true;
}

void TBX_Message::Create(TBX_Context* context, const MvString& type)
{
  Replace(nullptr);
  m_Context = context;
  // A failed Create must not leave the key of a store opened before.
  m_KeyId.clear();

  // The element starts as an offer and takes its own type once the key is known, so a store
  // without a key leaves a "PayInit" element behind, as it always has.
  xmlElementPtr root;
  context->XmlCreateRequest(MvString(TBX_GetMessageType(TBX_MessageKind::PayInit).m_Name),
                            root.receive());
  Attach(root);

  MvString keyId;
  if (!context->QueryValue(MvString("keys/current"), MvString(), keyId)) {
    const MvString store = context->GetPath();
    if (context->Probe(MvString("keys/current")) == TBX_Context::Presence::Absent)
      TBX_THROW(TBX_E_NO_KEY_ID,
                "the store " + store +
                    " has no keys/current, the key offers are signed with; set the store up "
                    "first",
                kUnit, kSiteCreateNoKey);
    TBX_THROW(TBX_E_NO_KEY_ID,
              "keys/current of the store " + store + " cannot be read; check its permissions",
              kUnit, kSiteCreateNoKey);
  }
  m_KeyId = keyId;

  Set("MSGTYPE", type);
  Set("KEYID", m_KeyId);
  const TBX_MessageType* built = TBX_FindBuiltType(type);
  if (built != nullptr && built->m_StorePath)
    Set("CONFIGPATH", context->GetPath());
}

void TBX_Message::Create(TBX_Context* context, const TBX_MessageType& type, const MvString* given,
                         size_t count)
{
  size_t names = 0;
  while (type.m_Given != nullptr && type.m_Given[names] != nullptr)
    ++names;
  // A count other than the type's is a fault of the library's own code, never of input.
  if (count != names)
    TBX_THROW(TBX_E_UNEXPECTED,
              MvString("a ") + type.m_Name + " message takes " + std::to_string(names).c_str() +
                  " given attributes, not " + std::to_string(count).c_str(),
              kUnit, kSiteCreateGiven);

  Create(context, MvString(type.m_Name));
  if (type.m_Fill != nullptr)
    type.m_Fill(*this);
  for (size_t i = 0; i < count; ++i)
    SetAttribute(MvString(type.m_Given[i]), given[i]);
}

void TBX_Message::Open(TBX_Context* context, const MvString& data, const MvString& signature)
{
  Replace(nullptr);
  m_Context = context;

  xmlElementPtr root;
  try {
    context->XmlFromString(data, root.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold(
        MvString("the confirmation's data is not XML with a TBX element; pass it "
                 "exactly as the host sent it, not URL-encoded"));
  }
  Attach(root);

  if (signature.empty())
    TBX_THROW(TBX_E_MISSING_SIGNATURE, "the confirmation came with an empty signature", kUnit,
              kSiteOpenNoSignature);

  MvString keyId;
  if (!m_Element->getAttribute(MvString("KEYID"), keyId) || keyId.empty())
    TBX_THROW(TBX_E_NO_KEY_ID, "the confirmation names no KEYID", kUnit, kSiteOpenNoKey);
  // The identifier comes from the sender: it must not lead out of keys/.
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);

  // The host signs other messages too (errors, responses): only a confirmation confirms.
  const TBX_MessageType& confirmation = TBX_GetMessageType(TBX_MessageKind::PayConfirm);
  MvString type;
  if (!m_Element->getAttribute(MvString("MSGTYPE"), type))
    TBX_THROW(TBX_E_INVALID_SIGNATURE, "not a confirmation: the message has no MSGTYPE", kUnit,
              kSiteOpenNotConfirmation);
  if (!(type == confirmation.m_Name))
    TBX_THROW(TBX_E_INVALID_SIGNATURE, "not a confirmation: MSGTYPE is " + TBX_Quote(type), kUnit,
              kSiteOpenNotConfirmation);

  MvString hostKeyId;
  context->QueryValue(MvString("config.xml"), MvString("VTKEYID"), hostKeyId);
  const MvString currentKeyId = CheckNotOwnKey(*context, keyId, hostKeyId);
  // A link could lead anywhere, a merchant's key among them: the host's key is a file of its own.
  MvString keyText;
  if (!context->ReadPublicKey(keyId, keyText, false))
    RefuseKey(keyId, "names a symbolic link in keys/public/: the host's key must be a plain file",
              kSiteOpenOwnKey);
  context->VerifyWithPublicKey(data, keyId, keyText, signature);

  // Checked after the key was found, so that a key the store lacks is still reported as such.
  if (hostKeyId.empty())
    RefuseKey(keyId, "cannot be trusted: config.xml names no host key (VTKEYID); set the store up",
              kSiteOpenNotHostKey);
  if (!(keyId == hostKeyId))
    RefuseKey(keyId, "is not the host's key " + TBX_Quote(hostKeyId) + " that config.xml names",
              kSiteOpenNotHostKey);
  // Looked at last, for messages that passed everything else: a copy of the merchant's key under
  // the host's name would let the merchant's own signatures confirm.
  if (context->IsOwnPublicKey(keyText, currentKeyId))
    RefuseKey(keyId, "holds the merchant's current public key, not the host's", kSiteOpenOwnKey);

  if (confirmation.m_StorePath)
    Set("CONFIGPATH", context->GetPath());
}

void TBX_Message::SetAttribute(const MvString& name, const MvString& value)
{
  if (!HasElement())
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteSetNoElement);
  if (!xmlIsName(name.c_str(), name.size()))
    TBX_THROW(TBX_E_INVALID_ARGUMENT,
              "invalid attribute name " + TBX_Quote(name) +
                  ": a name holds letters, digits, '.', '-' and '_' only",
              kUnit, kSiteSetBadName);
  m_Element->setAttribute(name, value);
  ++m_Revision;
}

void TBX_Message::GetAttribute(const MvString& name, MvString& value) const
{
  if (!HasElement())
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteGetNoElement);
  if (!m_Element->getAttribute(name, value))
    TBX_THROW(TBX_E_ITEM_NOT_FOUND, "the message has no attribute " + TBX_Quote(name), kUnit,
              kSiteGetAbsent);
}

void TBX_Message::GetAttributeNames(MvString& names) const
{
  if (!HasElement())
    TBX_THROW(TBX_E_UNEXPECTED, kNoMessage, kUnit, kSiteGetNoElement);
  m_Element->getAttributeNames(names);
}

void TBX_Message::GetURL(MvString& url) const
{
  RequireMessage(*this, kSiteUrlNoElement);
  if (!m_Url.empty() && m_UrlRevision == m_Revision) {
    url = m_Url;
    return;
  }

  MvStringStream text;
  m_Element->toStream(text);
  const MvString base = ConfigValue(*m_Context, "VTURL", kSiteUrlNoVturl);

  MvString signature;
  m_Context->SignData(text.str(), m_KeyId, signature);
  MvString built;
  m_Context->RequestToURL(base, text, signature, built, "VTURL");
  m_Url = built;
  m_UrlRevision = m_Revision;
  url = built;
}

void TBX_Message::Send(const TBX_MessageType& type) const
{
  // A row without an endpoint is a fault of the library's own code, never of input.
  if (type.m_Endpoint == nullptr)
    TBX_THROW(TBX_E_UNEXPECTED, MvString("a ") + type.m_Name + " message is not sent on its own",
              kUnit, kSiteSendNoElement);
  RequireMessage(*this, kSiteSendNoElement);
  const MvString endpoint = ConfigValue(*m_Context, type.m_Endpoint, kSiteSendNoEndpoint);
  MvString needed;
  if (!m_Element->getAttribute(MvString(type.m_Needs), needed))
    TBX_THROW(TBX_E_UNEXPECTED,
              MvString("the ") + type.m_Action + " request has no " + type.m_Needs, kUnit,
              kSiteSendLacksAttribute);

  xmlElementPtr answer;
  m_Context->Exchange(endpoint, type.m_Endpoint, m_Element.get(), &m_KeyId, MvString(type.m_Answer),
                      answer);
}

void TBX_Message::Capture() const
{
  Send(TBX_GetMessageType(TBX_MessageKind::PayComplete));
}

void TBX_Message::Request(TBX_Message& response)
{
  RequireMessage(*this, kSiteRequestNoElement);
  MvString type;
  m_Element->getAttribute(MvString("MSGTYPE"), type);
  Set("MSGTYPE", type + TBX_REQUEST_SUFFIX);
  const MvString endpoint = ConfigValue(*m_Context, TBX_REQUEST_ENDPOINT, kSiteRequestNoEndpoint);

  xmlElementPtr answer;
  m_Context->Exchange(endpoint, TBX_REQUEST_ENDPOINT, m_Element.get(), &m_KeyId,
                      type + TBX_RESPONSE_SUFFIX, answer);
  response.Attach(answer);
}
