#include "tbxmsgtype.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxmessage.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmlElement.h"

const char* const AttributeNames[] = {
    "ALLOWCOLLECT",    "DELIVERY", "LANGID",   "SUCCESSLINK", "NOTIFYADDRESS",
    "DEFAULTVALIDITY", "BACKLINK", "FAILLINK", nullptr,
};

namespace {

using namespace TBX_FactorySites;

// Time to live of an offer when default.xml names none: one day.
const char kDefaultTtl[] = "86400";

// The range "%04d" can show: 0000-01-01 00:00:00 to 9999-12-31 23:59:59 UTC.
const double kEarliestTime = -62167219200.0;
const double kLatestTime = 253402300799.0;

MvString TtlOutOfRange(const MvString& ttl)
{
  return "PAYINITTTL out of range: " + TBX_Quote(ttl) +
         " seconds from now is not a time of the years 0 to 9999; check PAYINITTTL in default.xml";
}

// True when `text` is a plain decimal number of seconds, blanks around it allowed: what strtod
// would make of anything else ("one day" 0, "-3600" the past) gives offers that expire at once.
bool IsSecondsText(const char* text)
{
  while (*text == ' ' || *text == '\t')
    ++text;
  const char* digits = text;
  while (*text >= '0' && *text <= '9')
    ++text;
  if (text == digits)
    return false;
  if (*text == '.') {
    ++text;
    while (*text >= '0' && *text <= '9')
      ++text;
  }
  while (*text == ' ' || *text == '\t')
    ++text;
  return *text == '\0';
}

}  // namespace

void TBX_FillPayInit(TBX_Message& message)
{
  TBX_Context& context = *message.GetContext();
  message.SetAttribute(MvString("TOKEN"), TBX_Context::CreateUuid());

  // One look at default.xml serves both the defaults and PAYINITTTL; an unchanged file is not
  // parsed again.
  const size_t kDefaults = sizeof AttributeNames / sizeof AttributeNames[0] - 1;
  const char* names[kDefaults + 2];
  std::copy(AttributeNames, AttributeNames + kDefaults, names);
  names[kDefaults] = "PAYINITTTL";
  names[kDefaults + 1] = nullptr;
  MvString ttl;
  MvString values;
  if (context.QueryAttributes(MvString("default.xml"), names, values)) {
    MvString name, value;
    for (unsigned at = 0; TBX_Context::NextAttribute(values, at, name, value);) {
      if (name == "PAYINITTTL")
        ttl = value;
      else
        message.SetAttribute(name, value);
    }
  }
  if (ttl.empty())
    ttl = kDefaultTtl;
  message.SetAttribute(MvString("EXPIRATION"),
                       TBX_ExpirationText(static_cast<long long>(std::time(nullptr)), ttl));
}

const TBX_MessageType* TBX_FindBuiltType(const MvString& name)
{
  for (const TBX_MessageType& type : TBX_MessageTypes)
    if (!type.m_Received && name == type.m_Name)
      return &type;
  return nullptr;
}

MvString TBX_ExpirationText(long long now, const MvString& ttl)
{
  const char* text = ttl.c_str() != nullptr ? ttl.c_str() : "";
  if (std::strlen(text) != ttl.size() || !IsSecondsText(text) ||
      std::trunc(std::strtod(text, nullptr)) < 1)
    TBX_THROW(TBX_E_INVALID_FORMAT,
              "PAYINITTTL " + TBX_Quote(ttl) +
                  " is not a number of seconds of at least 1 (an offer's lifetime); check "
                  "PAYINITTTL in default.xml",
              kUnit, kSiteBadTtl);
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
