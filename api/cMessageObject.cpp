#include "cMessageObject.h"

#include <cstring>

#include "tbxapp.h"
#include "tbxerr.h"
#include "tbxmsgtype.h"
#include "tbxutil.h"

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "cMessageObject";
enum Site : long
{
  kSiteUrlNotCreated = 40,
  kSiteNotOpened = 50,
  kSiteToString = 60,
  kSiteFixedAttribute = 70,
  kSiteOtherType = 80,
};

using Object = TBXCIMPL_MessageObject;

// The attributes that say what a message is and whose key signs it: in a message the factory
// built they stay as it set them, or the merchant's key would sign a message of another kind
// (a "confirmation") or one claiming another signer.
bool IsFixedAttribute(const MvString& name)
{
  return name == "MSGTYPE" || name == "KEYID";
}

MvString Attribute(const TBX_Message& message, const char* name)
{
  MvString value;
  message.FindAttribute(MvString(name), value);
  return value;
}

}  // namespace

void TBXCIMPL_MessageObject::Open(const MvString& configPath)
{
  m_Context.Open(configPath);
  m_Message.Create(&m_Context, MvString(TBX_GetMessageType(TBX_MessageKind::Placeholder).m_Name));
}

void TBXCIMPL_MessageObject::SetAttribute(const MvString& name, const MvString& value)
{
  if (m_Created != 0 && IsFixedAttribute(name) && !(value == Attribute(m_Message, name.c_str())))
    TBX_THROW(TBX_E_INVALID_ARGUMENT,
              name + " of a message the factory built stays " +
                  TBX_Quote(Attribute(m_Message, name.c_str())) +
                  (name == "MSGTYPE" ? MvString(": create a message of the type you need")
                                     : MvString(": it names the store's key that signs it")),
              kUnit, kSiteFixedAttribute);
  m_Message.SetAttribute(name, value);
}

void TBXCIMPL_MessageObject::GetAttribute(const MvString& name, MvString& value) const
{
  m_Message.GetAttribute(name, value);
}

void TBXCIMPL_MessageObject::GetAttributeNames(MvString& names) const
{
  m_Message.GetAttributeNames(names);
}

void TBXCIMPL_MessageObject::GetURL(MvString& url) const
{
  // Checked first: signing a confirmation's content only to refuse it would be wasted work and
  // could surface another failure in place of this one.
  // The bare code text is the one Java callers have always been given for this refusal.
  if (m_Created == 0)
    TBX_THROW(TBX_E_UNEXPECTED, "", kUnit, kSiteUrlNotCreated);
  m_Message.GetURL(url);
}

void TBXCIMPL_MessageObject::Send(TBX_MessageKind kind) const
{
  m_Message.Send(TBX_GetMessageType(kind));
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageObject::Execute()
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> response;
  response->m_Context = m_Context;  // path, user name, password and set-up endpoint
  m_Message.Request(response->m_Message);
  return response.release();
}

void TBXCIMPL_MessageObject::FromText(const char* text, size_t length)
{
  if (text == nullptr)
    text = "";
  // The text is looked at first: a text that is no message is the caller's fault whatever the
  // object holds.
  xmlElementPtr parsed;
  try {
    m_Context.XmlFromText(text, length, parsed.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold(MvString("the text is not a saved message: not XML with a TBX element"));
  }
  // Opened means a store and its current key: both are what the restored message is bound to.
  if (m_Message.GetContext() == nullptr || m_Message.GetKeyId().empty())
    TBX_THROW(TBX_E_UNEXPECTED,
              "only an object opened on a store with MessageObject_Open takes a saved message",
              kUnit, kSiteNotOpened);
  if (m_Created != 0) {
    MvString type;
    parsed->getAttribute(MvString("MSGTYPE"), type);
    const MvString built = Attribute(m_Message, "MSGTYPE");
    if (!(type == built))
      TBX_THROW(TBX_E_INVALID_ARGUMENT,
                "the text is a " + TBX_Quote(type) + " message and this object a " +
                    TBX_Quote(built) +
                    " the factory built: restore it into an object made with "
                    "CreateMessageObject",
                kUnit, kSiteOtherType);
  }
  m_Message.Attach(parsed);
  m_Message.SetAttribute(MvString("KEYID"), m_Message.GetKeyId());
}

void TBXCIMPL_MessageObject::ToString(MvString& text) const
{
  if (!m_Message.ToText(text))
    TBX_THROW(TBX_E_UNEXPECTED, "the message object holds no message: open it on a store first",
              kUnit, kSiteToString);
}

TBX_EXPORT_HANDLE_LIFETIME(TBXCIMPL_MessageObject, CreateMessageObject, DestroyMessageObject)

extern "C" TBX_EXTERN(long) MessageObject_Open(void* message, const char* configPath)
{
  return TBX_Call<Object>(message, kUnit, [&](Object& m) { m.Open(mbstoSTRING(configPath)); });
}

extern "C" TBX_EXTERN(long)
    MessageObject_SetAttribute(void* message, const char* name, const char* value)
{
  return TBX_Call<Object>(
      message, kUnit, [&](Object& m) { m.SetAttribute(mbstoSTRING(name), mbstoSTRING(value)); });
}

extern "C" TBX_EXTERN(long)
    MessageObject_GetAttribute(void* message, const char* name, long* length, char* buffer)
{
  return TBX_CallText<Object>(message, kUnit, length, buffer, [&](Object& m, MvString& value) {
    m.GetAttribute(mbstoSTRING(name), value);
  });
}

extern "C" TBX_EXTERN(long) MessageObject_GetAttributeNames(void* message, long* size, char* buffer)
{
  return TBX_CallText<Object>(
      message, kUnit, size, buffer, [](Object& m, MvString& names) { m.GetAttributeNames(names); },
      TBX_CopyWhole::Yes);
}

extern "C" TBX_EXTERN(long) MessageObject_GetURL(void* message, long* length, char* buffer)
{
  return TBX_CallText<Object>(message, kUnit, length, buffer,
                              [](Object& m, MvString& url) { m.GetURL(url); });
}

extern "C" TBX_EXTERN(long) MessageObject_Capture(void* message)
{
  return TBX_Call<Object>(message, kUnit, [](Object& m) { m.Capture(); });
}

extern "C" TBX_EXTERN(long) MessageObject_Execute(void* message, void** response)
{
  return TBX_CallNew<Object>(message, kUnit, response, [](Object& m) { return m.Execute(); });
}

extern "C" TBX_EXTERN(long) MessageObject_FromString(void* message, const char* text)
{
  return TBX_Call<Object>(message, kUnit, [&](Object& m) {
    m.FromText(text, text != nullptr ? std::strlen(text) : 0);
  });
}

extern "C" TBX_EXTERN(long) MessageObject_ToString(void* message, long* length, char* buffer)
{
  return TBX_CallText<Object>(message, kUnit, length, buffer,
                              [](Object& m, MvString& text) { m.ToString(text); });
}
