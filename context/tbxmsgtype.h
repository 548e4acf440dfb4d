/*
 * tbxmsgtype.h - the message types the library builds, receives and sends, one row each.
 *
 * A row says what a message of the type is made of and how it travels: its MSGTYPE, whether it
 * carries the store's path, the attributes its caller gives, what the library adds itself, and
 * for a type sent on its own (a capture) where it goes and what the host must answer. The factory,
 * the message and the message object read the rows and hold no type names of their own.
 *
 * A new message type is a new kind and its row below (and in tbxmsgtype.cpp what the library adds
 * to it, if anything); its exported functions, declared in include/tbxapp.h, call
 * TBXCIMPL_MessageFactory::Create and, when it is sent on its own, TBXCIMPL_MessageObject::Send
 * with that kind.
 */
#ifndef TBXMSGTYPE_H
#define TBXMSGTYPE_H

#include <cstddef>

#include "mvstring.h"

class TBX_Message;

enum class TBX_MessageKind
{
  PayInit,      // the offer a shopper's browser takes to the host
  PayConfirm,   // the host's signed confirmation of an authorised payment
  PayComplete,  // the capture of a confirmed payment
  Placeholder,  // what an object opened on a store holds until a saved message replaces it
  Count         // the number of kinds; stays last
};

struct TBX_MessageType
{
  TBX_MessageKind m_Kind;
  const char* m_Name;  // its MSGTYPE
  // Comes from the host and is verified on opening; the others are built here.
  bool m_Received;
  // Carries CONFIGPATH, the store's path: added when it is built, or once it is verified.
  bool m_StorePath;
  // The attributes the caller gives when the factory builds it, in this order; null-ended, or
  // null for none. They are set after what m_Fill adds.
  const char* const* m_Given;
  // What the library adds when the factory builds it, after MSGTYPE and KEYID; null for nothing.
  void (*m_Fill)(TBX_Message& message);
  // For a type sent on its own: the config.xml value naming the endpoint, the attribute it must
  // carry, the type the host must answer, and what messages call the sending ("capture"). Null
  // for the others.
  const char* m_Endpoint;
  const char* m_Needs;
  const char* m_Answer;
  const char* m_Action;
};

/* An offer's content: a fresh TOKEN, the store's defaults named in AttributeNames, EXPIRATION. */
void TBX_FillPayInit(TBX_Message& message);

inline constexpr const char* TBX_PayCompleteGiven[] = {"ID", "TOKEN", nullptr};

/* The table, indexed by TBX_MessageKind. It stands here, not in a source file, so that finding a
 * row costs no call: a capture reads its row on its way to the host. */
inline constexpr TBX_MessageType TBX_MessageTypes[] = {
    // kind, MSGTYPE, received, store path, given, fill, endpoint, needs, answer, action
    {TBX_MessageKind::PayInit, "PayInit", false, false, nullptr, TBX_FillPayInit, nullptr, nullptr,
     nullptr, nullptr},
    {TBX_MessageKind::PayConfirm, "PayConfirm", true, true, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {TBX_MessageKind::PayComplete, "PayComplete", false, true, TBX_PayCompleteGiven, nullptr,
     "CAPTUREURL", "TOKEN", "PayConfirm", "capture"},
    {TBX_MessageKind::Placeholder, "ERROR", false, false, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

constexpr bool TBX_RowsInKindOrder()
{
  constexpr size_t count = sizeof TBX_MessageTypes / sizeof TBX_MessageTypes[0];
  for (size_t i = 0; i < count; ++i)
    if (static_cast<size_t>(TBX_MessageTypes[i].m_Kind) != i)
      return false;
  return count == static_cast<size_t>(TBX_MessageKind::Count);
}
static_assert(TBX_RowsInKindOrder(), "one row per TBX_MessageKind, in the order of the kinds");

/* The row of `kind`. */
inline const TBX_MessageType& TBX_GetMessageType(TBX_MessageKind kind)
{
  return TBX_MessageTypes[static_cast<size_t>(kind)];
}

/* The row of a type the library builds whose MSGTYPE is exactly `name`; null for any other name
 * (a general request of the caller's own type). */
const TBX_MessageType* TBX_FindBuiltType(const MvString& name);

/* A general request of type T travels as T + TBX_REQUEST_SUFFIX to the endpoint
 * TBX_REQUEST_ENDPOINT names in config.xml, and the host answers T + TBX_RESPONSE_SUFFIX. */
constexpr char TBX_REQUEST_SUFFIX[] = "Request";
constexpr char TBX_RESPONSE_SUFFIX[] = "Response";
constexpr char TBX_REQUEST_ENDPOINT[] = "CAPTUREURL";

/* Attribute names a PayInit offer takes over from the store's default.xml, in this order; the
 * list ends with a null entry. */
extern const char* const AttributeNames[];

/* EXPIRATION of an offer made at `now` (seconds since the epoch) with the time-to-live text `ttl`
 * (decimal seconds, blanks around allowed, truncated toward zero): UTC "YYYYMMDD hh:mm:ss". A ttl
 * that is no such number, is below 1 second, or leaves the years 0000 to 9999 raises
 * TBX_E_INVALID_FORMAT, its message naming PAYINITTTL and the value. */
MvString TBX_ExpirationText(long long now, const MvString& ttl);

/* Error sites of the unit "cMessageFactory": the factory's own refusals and those of building its
 * messages (see "Error sites" in tbxerr.h). */
namespace TBX_FactorySites {
constexpr char kUnit[] = "cMessageFactory";
enum Site : long
{
  kSiteEmptyType = 30,
  kSiteEmptyOrderTerm = 31,
  kSiteOrderMismatch = 32,
  kSiteBadTtl = 40,
};
}  // namespace TBX_FactorySites

#endif /* TBXMSGTYPE_H */
