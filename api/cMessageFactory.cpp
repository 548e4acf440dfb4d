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
  "ALLOWCOLLECT", "DELIVERY", "LANGID", "SUCCESSLINK", "NOTIFYADDRESS",
  "DEFAULTVALIDITY", "BACKLINK", "FAILLINK", nullptr,
};

namespace {

const char* const kUnit = "cMessageFactory";

enum
{
  LINE_EMPTY_TYPE = 30,
  LINE_BAD_TTL = 40,
};

// Time to live of an offer when default.xml names none: one day.
const char* const kDefaultTtl = "86400";

// The range "%04d" can show: 0000-01-01 00:00:00 to 9999-12-31 23:59:59 UTC.
const double kEarliestTime = -62167219200.0;
const double kLatestTime = 253402300799.0;

MvString In(const char* s)
{
  return s != nullptr ? MvString(s) : MvString();
}

MvString TtlOutOfRange(const MvString& ttl)
{
  return "PAYINITTTL out of range: " + TBX_Quote(ttl) +
         " seconds from now is not a time of the years 0 to 9999; check PAYINITTTL in default.xml";
}

} // namespace

MvString TBX_ExpirationText(long long now, const MvString& ttl)
{
  const char* text = ttl.c_str() != nullptr ? ttl.c_str() : "";
  const double seconds = std::trunc(std::strtod(text, nullptr));
  const double when = static_cast<double>(now) + seconds;
  // Checked in floating point, before any conversion to time_t could overflow.
  if (!std::isfinite(seconds) || when < kEarliestTime || when > kLatestTime)
    TBX_THROW(TBX_E_INVALID_FORMAT, TtlOutOfRange(ttl), kUnit, LINE_BAD_TTL);

  const time_t t = static_cast<time_t>(now) + static_cast<time_t>(seconds);
  struct tm utc;
  if (gmtime_r(&t, &utc) == nullptr)
    TBX_THROW(TBX_E_INVALID_FORMAT, TtlOutOfRange(ttl), kUnit, LINE_BAD_TTL);
  char buffer[80]; // room for any int in every field, though the range check keeps them short
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d %02d:%02d:%02d", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return MvString(buffer);
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreatePayInit() const
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  TBX_Context& context = object->m_Context;
  context.Open(m_ConfigPath);
  TBX_Message& message = object->m_Message;
  message.Create(&context, MvString("PayInit"));
  message.SetAttribute(MvString("TOKEN"), TBX_Context::CreateUuid());
  object->m_Created = 1;

  // One read of default.xml serves both the defaults and PAYINITTTL.
  MvString ttl;
  MvString defaults;
  if (context.QueryValue(MvString("default.xml"), MvString(), defaults)) {
    xmlElementPtr root;
    context.XmlFromString(defaults, root.receive());
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
  return object.release();
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::VerifyPayConfirm(const MvString& data,
                                                                  const MvString& signature) const
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  object->m_Context.Open(m_ConfigPath);
  object->m_Message.Open(&object->m_Context, data, signature);
  return object.release();
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreatePayComplete(const MvString& id,
                                                                   const MvString& token) const
{
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  object->m_Context.Open(m_ConfigPath);
  object->m_Message.Create(&object->m_Context, MvString("PayComplete"));
  object->m_Created = 1;
  object->m_Message.SetAttribute(MvString("ID"), id);
  object->m_Message.SetAttribute(MvString("TOKEN"), token);
  return object.release();
}

TBXCIMPL_MessageObject* TBXCIMPL_MessageFactory::CreateRequest(const MvString& type) const
{
  if (type.empty())
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "the message type is empty", kUnit, LINE_EMPTY_TYPE);
  TBX_HandleHolder<TBXCIMPL_MessageObject> object;
  object->m_Context.Open(m_ConfigPath);
  object->m_Message.Create(&object->m_Context, type);
  object->m_Created = 1;
  return object.release();
}

extern "C" TBX_EXTERN(void*) CreateMessageFactory(void)
{
  return TBX_NewHandle<TBXCIMPL_MessageFactory>();
}

extern "C" TBX_EXTERN(void) DestroyMessageFactory(void* factory)
{
  TBX_DeleteHandle<TBXCIMPL_MessageFactory>(factory);
}

extern "C" TBX_EXTERN(long) MessageFactory_Open(void* factory, const char* configPath)
{
  return TBX_Guard([&] {
    TBX_CheckHandle<TBXCIMPL_MessageFactory>(factory, kUnit).Open(In(configPath));
    return TBX_OK;
  });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayInit(void* factory, void** message)
{
  return TBX_Guard([&] {
    const TBXCIMPL_MessageFactory& f = TBX_CheckHandle<TBXCIMPL_MessageFactory>(factory, kUnit);
    TBX_CheckOutHandle(message, kUnit);
    *message = f.CreatePayInit();
    return TBX_OK;
  });
}

extern "C" TBX_EXTERN(long) MessageFactory_VerifyPayConfirm(void* factory, const char* data,
                                                            const char* signature, void** message)
{
  return TBX_Guard([&] {
    const TBXCIMPL_MessageFactory& f = TBX_CheckHandle<TBXCIMPL_MessageFactory>(factory, kUnit);
    TBX_CheckOutHandle(message, kUnit);
    *message = f.VerifyPayConfirm(In(data), In(signature));
    return TBX_OK;
  });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreatePayComplete(void* factory, const char* id,
                                                             const char* token, void** message)
{
  return TBX_Guard([&] {
    const TBXCIMPL_MessageFactory& f = TBX_CheckHandle<TBXCIMPL_MessageFactory>(factory, kUnit);
    TBX_CheckOutHandle(message, kUnit);
    *message = f.CreatePayComplete(In(id), In(token));
    return TBX_OK;
  });
}

extern "C" TBX_EXTERN(long) MessageFactory_CreateRequest(void* factory, const char* messageType,
                                                         void** message)
{
  return TBX_Guard([&] {
    const TBXCIMPL_MessageFactory& f = TBX_CheckHandle<TBXCIMPL_MessageFactory>(factory, kUnit);
    TBX_CheckOutHandle(message, kUnit);
    *message = f.CreateRequest(In(messageType));
    return TBX_OK;
  });
}
