// The object behind a message-factory handle: a configuration path and the operations that build
// message objects on it.
#ifndef CMESSAGEFACTORY_H
#define CMESSAGEFACTORY_H

#include <cstdint>

#include "mvstring.h"
#include "tbxgate.h"

class TBXCIMPL_MessageObject;

// Attribute names a PayInit offer takes over from the store's default.xml, in this order; the list
// ends with a null entry.
extern const char* const AttributeNames[];

class TBXCIMPL_MessageFactory
{
public:
  TBX_HANDLE_CLASS(TBXCIMPL_MessageFactory, TBX_HANDLE_MESSAGE_FACTORY);

  // Records the path; nothing is opened until a message is built.
  void Open(const MvString& configPath) { m_ConfigPath = configPath; }

  // Each returns a new registered message object owned by the caller; on failure nothing is left.
  TBXCIMPL_MessageObject* CreatePayInit() const;
  TBXCIMPL_MessageObject* VerifyPayConfirm(const MvString& data, const MvString& signature) const;
  // VerifyPayConfirm, then the confirmation's TOKEN, AMOUNT and CURRENCY must equal the order's,
  // byte for byte: a genuine confirmation of another order raises TBX_E_ORDER_MISMATCH.
  TBXCIMPL_MessageObject* VerifyPayConfirmForOrder(const MvString& data, const MvString& signature,
                                                   const MvString& token, const MvString& amount,
                                                   const MvString& currency) const;
  TBXCIMPL_MessageObject* CreatePayComplete(const MvString& id, const MvString& token) const;
  TBXCIMPL_MessageObject* CreateRequest(const MvString& type) const;

  uint32_t m_Mark = TBX_HANDLE_MARK;
  MvString m_ConfigPath;
};

// EXPIRATION of an offer made at `now` (seconds since the epoch) with the time-to-live text `ttl`
// (strtod rule: leading number, 0 if none; truncated toward zero): UTC "YYYYMMDD hh:mm:ss". A ttl
// that is not finite or leaves the years 0000 to 9999 raises TBX_E_INVALID_FORMAT.
MvString TBX_ExpirationText(long long now, const MvString& ttl);

#endif
