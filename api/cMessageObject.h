// The object behind a message-object handle: one message and the context it belongs to.
#ifndef CMESSAGEOBJECT_H
#define CMESSAGEOBJECT_H

#include <cstdint>

#include "mvstring.h"
#include "tbxctx.h"
#include "tbxgate.h"
#include "tbxmessage.h"
#include "tbxmsgtype.h"

class TBXCIMPL_MessageObject
{
public:
  TBX_HANDLE_CLASS(TBXCIMPL_MessageObject, TBX_HANDLE_MESSAGE_OBJECT);

  // Binds the store and gives the object the store's current key (placeholder message "ERROR").
  void Open(const MvString& configPath);
  // MSGTYPE and KEYID of a message the factory built keep their values: another one raises
  // TBX_E_INVALID_ARGUMENT and changes nothing.
  void SetAttribute(const MvString& name, const MvString& value);
  void GetAttribute(const MvString& name, MvString& value) const;
  void GetAttributeNames(MvString& names) const;
  // Only for messages the factory built (m_Created): TBX_E_UNEXPECTED before anything is signed.
  void GetURL(MvString& url) const;
  // Sends the message as its row in the message type table says (TBX_E_UNEXPECTED on an object
  // never opened); Capture sends it as the capture of a payment.
  void Send(TBX_MessageKind kind) const;
  void Capture() const { Send(TBX_MessageKind::PayComplete); }
  // The host's answer as a new registered object owned by the caller.
  TBXCIMPL_MessageObject* Execute();
  // Parses first: a bad text gives TBX_E_INVALID_FORMAT whatever the object holds and leaves the
  // message as it was. TBX_E_UNEXPECTED when not opened with Open (a verified confirmation);
  // TBX_E_INVALID_ARGUMENT for a text of another MSGTYPE than a message the factory built.
  /* `text` is parsed where it lies (a saved message may be large): no copy is made of it. */
  void FromText(const char* text, size_t length);
  void FromString(const MvString& text) { FromText(text.c_str(), text.size()); }
  void ToString(MvString& text) const;

  uint32_t m_Mark = TBX_HANDLE_MARK;
  TBX_Context m_Context;
  TBX_Message m_Message;
  int32_t m_Created = 0;
};

#endif
