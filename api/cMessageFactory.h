// The object behind a message-factory handle: a configuration path and the operations that build
// message objects on it.
#ifndef CMESSAGEFACTORY_H
#define CMESSAGEFACTORY_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "mvstring.h"
#include "tbxgate.h"
#include "tbxmsgtype.h"

class TBXCIMPL_MessageObject;

class TBXCIMPL_MessageFactory
{
public:
  TBX_HANDLE_CLASS(TBXCIMPL_MessageFactory, TBX_HANDLE_MESSAGE_FACTORY);

  // Records the path; nothing is opened until a message is built.
  void Open(const MvString& configPath) { m_ConfigPath = configPath; }

  // Each returns a new registered message object owned by the caller; on failure nothing is left.
  //
  // A message of `kind` as its row in the message type table says, `given` holding the values
  // of the row's given attributes in order; its URL may be taken.
  TBXCIMPL_MessageObject* Create(TBX_MessageKind kind,
                                 std::initializer_list<MvString> given = {}) const;
  TBXCIMPL_MessageObject* CreatePayInit() const { return Create(TBX_MessageKind::PayInit); }
  TBXCIMPL_MessageObject* VerifyPayConfirm(const MvString& data, const MvString& signature) const;
  // VerifyPayConfirm, then the confirmation's TOKEN, AMOUNT and CURRENCY must equal the order's,
  // byte for byte: a genuine confirmation of another order raises TBX_E_ORDER_MISMATCH.
  TBXCIMPL_MessageObject* VerifyPayConfirmForOrder(const MvString& data, const MvString& signature,
                                                   const MvString& token, const MvString& amount,
                                                   const MvString& currency) const;
  TBXCIMPL_MessageObject* CreatePayComplete(const MvString& id, const MvString& token) const
  {
    return Create(TBX_MessageKind::PayComplete, {id, token});
  }
  // A general request of the caller's `type`; TBX_E_INVALID_ARGUMENT when it is empty.
  TBXCIMPL_MessageObject* CreateRequest(const MvString& type) const;

  uint32_t m_Mark = TBX_HANDLE_MARK;
  MvString m_ConfigPath;
};

#endif
