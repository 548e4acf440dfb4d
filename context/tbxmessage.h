// One payment message: a TBX element whose attributes are the message's fields, bound to the
// merchant context that signs, verifies and sends it.
#ifndef TBXMESSAGE_H
#define TBXMESSAGE_H

#include "mvstring.h"
#include "xmlElement.h"

class TBX_Context;
struct TBX_MessageType;

// Failures raise TBX_Exception with source "tbxctx" and an empty message; failures of the context,
// the parser and the transport pass through unchanged.
//
// The message holds its element and every change to it goes through here, so the message knows
// when it changed: its URL is built again only then. Not copyable (a copy would share the element
// and change it behind the other's back).
class TBX_Message
{
public:
  TBX_Message() = default;
  TBX_Message(const TBX_Message&) = delete;
  TBX_Message& operator=(const TBX_Message&) = delete;

  // Starts a new outgoing message of `type` on `context`: a TBX element with MSGTYPE and KEYID (the
  // store's keys/current), and CONFIGPATH for a type that carries the store's path (PayComplete).
  // Without keys/current it raises TBX_E_NO_KEY_ID and the message holds a "PayInit" element
  // without KEYID, and no key.
  void Create(TBX_Context* context, const MvString& type);
  // Builds a message of a type the factory makes: Create, what the type adds, then the type's
  // given attributes set to `given`, in order (as many values as the type has names).
  void Create(TBX_Context* context, const TBX_MessageType& type, const MvString* given,
              size_t count);

  // Verifies a received confirmation (XML text and hexadecimal signature) with the public key its
  // KEYID names, and makes it the content. Refused with TBX_E_INVALID_SIGNATURE, the reason in the
  // message: a MSGTYPE other than "PayConfirm"; a KEYID that is the store's current key or names
  // an entry of keys/private/ (an offer handed back); a KEYID other than the host's key that
  // config.xml names (VTKEYID); a host key file that is a symbolic link or holds the merchant's
  // current public key. A KEYID that is not a plain file name is refused with
  // TBX_E_NO_KEY_ID. After a failure the message holds the unverified element and must be
  // discarded.
  void Open(TBX_Context* context, const MvString& data, const MvString& signature);

  // Adds or replaces an attribute (a replaced one keeps its place). A name that is empty or holds
  // other than letters, digits, '.', '-', '_' raises TBX_E_INVALID_ARGUMENT and changes nothing.
  void SetAttribute(const MvString& name, const MvString& value);
  // The decoded value; TBX_E_ITEM_NOT_FOUND when absent.
  void GetAttribute(const MvString& name, MvString& value) const;
  // The decoded value; false when the attribute or the element is absent (`value` unchanged).
  bool FindAttribute(const MvString& name, MvString& value) const
  {
    return HasElement() && m_Element->getAttribute(name, value);
  }
  // Appends every attribute's name, each followed by a NUL byte, in order.
  void GetAttributeNames(MvString& names) const;

  // The signed payment-offer URL: VTURL of config.xml, "?DATA=", the encoded XML text,
  // "&SIGNATURE=" and the signature under the message's key. Until the message changes, the URL
  // built last is handed back without reading or signing again: measure-then-fetch signs once
  // and both calls see the same URL.
  void GetURL(MvString& url) const;

  // Sends the message as a message of `type` (a row with an endpoint): requires the type's
  // attribute, and the host's answer of the type's answer type (Error: TBX_E_HOST_ERROR with the
  // host's MESSAGE; another type: TBX_E_REQUEST_FAILED). The message is unchanged.
  void Send(const TBX_MessageType& type) const;
  // Send as a PayComplete: the capture.
  void Capture() const;

  // Sends the message as type MSGTYPE + "Request" (the change stays) and makes the host's
  // MSGTYPE + "Response" answer the element of `response`, whose context and key are untouched.
  // On failure `response` keeps what it had.
  void Request(TBX_Message& response);

  // Takes over `element` (the caller's reference, which is left empty) as the message's element;
  // the context and key stay. The message must be the element's only holder.
  void Attach(xmlElementPtr& element);
  // The element as XML text; false without an element.
  bool ToText(MvString& text) const;

  bool HasElement() const { return m_Element.get() != nullptr; }
  TBX_Context* GetContext() const { return m_Context; }
  const MvString& GetKeyId() const { return m_KeyId; }

private:
  // Every change of the element, the context or the key passes here.
  void Replace(xmlElement* element);
  void Set(const char* name, const MvString& value);

  xmlElementPtr m_Element;
  TBX_Context* m_Context = nullptr;  // not owned
  MvString m_KeyId;
  // Counts the changes; the URL GetURL built last, and the count it was built at.
  unsigned long m_Revision = 0;
  mutable unsigned long m_UrlRevision = 0;
  mutable MvString m_Url;
};

#endif
