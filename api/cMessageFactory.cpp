#include "cMessageFactory.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "cMessageObject.h"
#include "tbxapp.h"
#include "tbxerr.h"
#include "tbxutil.h"

const char* const AttributeNames[] = {
    "ALLOWCOLLECT",    "DELIVERY", "LANGID",   "SUCCESSLINK", "NOTIFYADDRESS",
    "DEFAULTVALIDITY", "BACKLINK", "FAILLINK", nullptr,
};

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "cMessageFactory";
enum Site : long
{
  kSiteEmptyType = 30,
  kSiteEmptyOrderTerm = 31,
  kSiteOrderMismatch = 32,
  kSiteBadTtl = 40,
};

// Time to live of an offer when default.xml names none: one day.
const char* const kDefaultTtl = "86400";

// The range "%04d" can show: 0000-01-01 00:00:00 to 9999-12-31 23:59:59 UTC.
const double kEarliestTime = -62167219200.0;
const double kLatestTime = 253402300799.0;

MvString TtlOutOfRange(const MvString& ttl)
{
  return "PAYINITTTL out of range: " + TBX_Quote(ttl) +
         " seconds from now is not a time of the years 0 to 9999; check PAYINITTTL in default.xml";
}

// A new registered message object opened on the store at `configPath`, given its message by
// `fill`; nothing is left when any step fails.
template <class Fill>
TBXCIMPL_MessageObject* NewObject(const MvString& configPath, Fill&& fill)
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  object->m_Context.Open(configPath);
  fill(*object);
  return object.release();
}

// A new outgoing message of `type` in `object`: one the factory built, whose URL may be taken.
TBX_Message& CreateMessage(TBXCIMPL_MessageObject& object, const MvString& type)
{
  object.m_Message.Create(&object.m_Context, type);
  object.m_Created = 1;
  return object.m_Message;
}

// One attribute that binds a confirmation to its order. A secret one (the TOKEN, which anyone who
// sees it can pay for) is named in messages, never shown.
struct OrderTerm
{
  const char* name;
  const MvString& expected;
  bool secret;
};

MvString OrderMismatch(const OrderTerm& term, bool present, const MvString& actual)
{
  const MvString name(term.name);
  if (!present)
    return "the confirmation carries no " + name + "; the order's " + name + " is " +
           (term.secret ? MvString("set") : TBX_Quote(term.expected));
  if (term.secret)
    return "the confirmation's " + name + " is not the order's; it pays another order";
  return "the confirmation's " + name + " is " + TBX_Quote(actual) + ", the order's is " +
         TBX_Quote(term.expected);
}

}  // namespace

MvString TBX_ExpirationText(long long now, const MvString& ttl)
{
  const char* text = ttl.c_str() != nullptr ? ttl.c_str() : "";
  const double seconds = std::trunc(std::strtod(text, nullptr));
  const double when = static_cast<double>(now) + seconds;
  // Checked in floating point, before any conversion to time_t could overflow.
  if (!std::isfinite(seconds) || when < kEarliestTime || when > kLatestTime)
    TBX_THROW(TBX_E_INVALID_FORMAT, TtlOutOfRange(ttl), kUnit, kSiteBadTtl);

  const time_t t = static_cast<time_t>(now) + static_cast<time_t>(seconds);
  struct tm utc;
  if (gmtime_r(&t, &utc) == nullptr)
    TBX_THROW(TBX_E_INVALID_FORMAT, TtlOutOfRange(ttl), kUnit, kSiteBadTtl);
  char buffer[80];  // room for any int in every field, though the range check keeps them short
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d %02d:%02d:%02d", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return MvString(buffer);
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreatePayInit() const
{
  return NewObject(m_ConfigPath, [](TBXCIMPL_MessageObject& object) {
    TBX_Message& message = CreateMessage(object, MvString("PayInit"));
    message.SetAttribute(MvString("TOKEN"), TBX_Context::CreateUuid());

    // One read of default.xml serves both the defaults and PAYINITTTL.
    MvString ttl;
    MvString defaults;
    if (object.m_Context.QueryValue(MvString("default.xml"), MvString(), defaults)) {
      xmlElementPtr root;
      object.m_Context.XmlFromString(defaults, root.receive());
      for (const char* const* name = AttributeNames; *name != nullptr; ++name) {
        MvString value;
        if (root->getAttribute(MvString(*name), value))
          message.SetAttribute(MvString(*name), value);
      }
      root->getAttribute(MvString("PAYINITTTL"), ttl);
    }
    if (ttl.empty())
      ttl = kDefaultTtl;
    message.SetAttribute(MvString("EXPIRATION"),
                         TBX_ExpirationText(static_cast<long long>(std::time(nullptr)), ttl));
  });
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::VerifyPayConfirm(const MvString& data,
                                                                  const MvString& signature) const
{
  // A verified confirmation is not one the factory built: no URL may be taken from it.
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Open(&object.m_Context, data, signature);
  });
}

TBXCIMPL_MessageObject*
TBXCIMPL_MessageFactory::VerifyPayConfirmForOrder(const MvString& data, const MvString& signature,
                                                  const MvString& token, const MvString& amount,
                                                  const MvString& currency) const
{
  // The amount first: of a cheaper order's confirmation, the money is what the merchant must see.
  const OrderTerm terms[] = {
      {"AMOUNT", amount, false},
      {"CURRENCY", currency, false},
      {"TOKEN", token, true},
  };
  // An empty expectation would match a confirmation that lacks the attribute.
  for (const OrderTerm& term : terms) {
    if (term.expected.empty())
      TBX_THROW(TBX_E_INVALID_ARGUMENT, MvString("the order's ") + term.name + " is empty", kUnit,
                kSiteEmptyOrderTerm);
  }
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    object.m_Message.Open(&object.m_Context, data, signature);
    for (const OrderTerm& term : terms) {
      MvString actual;
      const bool present = object.m_Message->getAttribute(MvString(term.name), actual);
      if (!present || actual != term.expected)
        TBX_THROW(TBX_E_ORDER_MISMATCH, OrderMismatch(term, present, actual), kUnit,
                  kSiteOrderMismatch);
    }
  });
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreatePayComplete(const MvString& id,
                                                                   const MvString& token) const
{
  return NewObject(m_ConfigPath, [&](TBXCIMPL_MessageObject& object) {
    TBX_Message& message = CreateMessage(object, MvString("PayComplete"));
    message.SetAttribute(MvString("ID"), id);
    message.SetAttribute(MvString("TOKEN"), token);
  });
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreateRequest(const MvString& type) const
{
  if (type.empty())
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "the message type is empty", kUnit, kSiteEmptyType);
  return NewObject(m_ConfigPath,
                   [&](TBXCIMPL_MessageObject& object) { CreateMessage(object, type); });
}

TBX_EXPORT_HANDLE_LIFETIME(TBXCIMPL_MessageFactory, CreateMessageFactory, DestroyMessageFactory)

extern "C" TBX_EXTERN(long) MessageFactory_Open(void* factory, const char* configPath)
{
  return TBX_Call<TBXCIMPL_MessageFactory>(
      factory, kUnit, [&](TBXCIMPL_MessageFactory& f) { f.Open(mbstoSTRING(configPath)); });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayInit(void* factory, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [](const TBXCIMPL_MessageFactory& f) { return f.CreatePayInit(); });
}

extern "C" TBX_EXTERN(long) MessageFactory_VerifyPayConfirm(void* factory, const char* data,
                                                            const char* signature, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [&](const TBXCIMPL_MessageFactory& f) {
        return f.VerifyPayConfirm(mbstoSTRING(data), mbstoSTRING(signature));
      });
}

extern "C" TBX_EXTERN(long)
    MessageFactory_VerifyPayConfirmForOrder(void* factory, const char* data, const char* signature,
                                            const char* token, const char* amount,
                                            const char* currency, void** confirmation)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, confirmation, [&](const TBXCIMPL_MessageFactory& f) {
        return f.VerifyPayConfirmForOrder(mbstoSTRING(data), mbstoSTRING(signature),
                                          mbstoSTRING(token), mbstoSTRING(amount),
                                          mbstoSTRING(currency));
      });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayComplete(void* factory, const char* id,
                                                             const char* token, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message, [&](const TBXCIMPL_MessageFactory& f) {
        return f.CreatePayComplete(mbstoSTRING(id), mbstoSTRING(token));
      });
}

extern "C" TBX_EXTERN(long)
    MessageFactory_CreateRequest(void* factory, const char* messageType, void** message)
{
  return TBX_CallNew<TBXCIMPL_MessageFactory>(
      factory, kUnit, message,
      [&](const TBXCIMPL_MessageFactory& f) { return f.CreateRequest(mbstoSTRING(messageType)); });
}
