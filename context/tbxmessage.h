// One payment message: a TBX element whose attributes are the message's fields, bound to the
// merchant context that signs, verifies and sends it.
#ifndef TBXMESSAGE_H
#define TBXMESSAGE_H

#include "mvstring.h"
#include "xmlElement.h"

class TBX_Context;

// Failures raise TBX_Exception with source "tbxctx" and an empty message; failures of the context,
// the parser and the transport pass through unchanged.
class TBX_Message : public xmlElementPtr
{
public:
  TBX_Message() : m_Context(nullptr) {}

  // Starts a new outgoing message of `type` on `context`: a TBX element with MSGTYPE and KEYID (the
  // store's keys/current), and CONFIGPATH for "PayComplete". Without keys/current it raises
  // TBX_E_NO_KEY_ID and the message holds a "PayInit" element without KEYID, and no key.
  void Create(TBX_Context* context, const MvString& type);

  // Verifies a received confirmation (XML text and hexadecimal signature) with the public key its
  // KEYID names, and makes it the content. Refused with TBX_E_INVALID_SIGNATURE, the reason in the
  // message: a MSGTYPE other than "PayConfirm"; a KEYID that is the store's current key or names
  // an entry of keys/private/ (an offer handed back); a KEYID other than the host's key that
  // config.xml names (VTKEYID). A KEYID that is not a plain file name is refused with
  // TBX_E_NO_KEY_ID. After a failure the message holds the unverified element and must be
  // discarded.
  void Open(TBX_Context* context, const MvString& data, const MvString& signature);

  // Adds or replaces an attribute (a replaced one keeps its place). A name that is empty or holds
  // other than letters, digits, '.', '-', '_' raises TBX_E_INVALID_ARGUMENT and changes nothing.
  void SetAttribute(const MvString& name, const MvString& value);
  // The decoded value; TBX_E_ITEM_NOT_FOUND when absent.
  void GetAttribute(const MvString& name, MvString& value) const;
  // Appends every attribute's name, each followed by a NUL byte, in order.
  void GetAttributeNames(MvString& names) const;

  // The signed payment-offer URL: VTURL of config.xml, "?DATA=", the encoded XML text,
  // "&SIGNATURE=" and the signature under the message's key. While the message's text, context
  // and key are those of the URL built last, that URL is handed back without reading or signing
  // again: measure-then-fetch signs once and both calls see the same URL.
  void GetURL(MvString& url) const;

  // Sends the message to CAPTUREURL and requires a PayConfirm answer (Error: TBX_E_HOST_ERROR with
  // the host's MESSAGE; another type: TBX_E_REQUEST_FAILED). The message is unchanged.
  void Capture() const;

  // Sends the message as type MSGTYPE + "Request" (the change stays) and makes the host's
  // MSGTYPE + "Response" answer the element of `response`, whose context and key are untouched.
  // On failure `response` keeps what it had.
  void Request(TBX_Message& response);

  // Replaces the element with `element` (shared, not copied); the context and key stay.
  void Attach(xmlElement* element);
  // The element as XML text; false without an element.
  bool ToText(MvString& text) const;

  TBX_Context* GetContext() const { return m_Context; }
  const MvString& GetKeyId() const { return m_KeyId; }

private:
  TBX_Context* m_Context;  // not owned
  MvString m_KeyId;
  // The URL GetURL built last and the text, context and key it was built from.
  mutable MvString m_UrlText;
  mutable MvString m_Url;
  mutable TBX_Context* m_UrlContext = nullptr;
  mutable MvString m_UrlKeyId;
};

#endif
