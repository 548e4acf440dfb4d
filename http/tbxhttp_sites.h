/*
 * tbxhttp_sites.h - the error sites of the transport, which reports under one unit name from
 * every file of this folder.
 */
#ifndef TBXHTTP_SITES_H
#define TBXHTTP_SITES_H

#include "httpresponse.h"

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
constexpr char kUnit[] = "tbxhttp";
enum Site : long
{
  kSiteConnectState = 646,
  kSiteProxyAddress = 661,
  kSiteUseProxy = 665,
  kSiteProxyScheme = 677,
  kSiteHostAddress = 683,
  kSiteDirectScheme = 695,
  kSiteConnect = 701,
  kSiteSetup = 710,
  kSiteHttpConnect = 719,
  kSiteProxyWrite = 728,
  kSiteProxyRead = 731,
  kSiteProxyTooLong = 733,
  kSiteProxyNoHttp = 738,
  kSiteProxyStatus = 749,
  kSiteProxyNot200 = 752,
  kSiteProxyNoBlankLine = 754,
  kSiteBuildState = 765,
  kSiteSendState = 797,
  kSiteSendWrite = 802,
  kSiteReceiveState = 810,
  kSiteReceiveRead = 821,
  kSiteReceiveTooLong = 823,
  kSiteExtractState = 832,
  kSiteNotHttp = 843,
  kSiteNoSpace = 846,
  kSiteStatus = 852,
  kSiteNot200 = 855,
  kSiteNoBlankLine = 859,
  kSiteBodyTooLong = 861,
  kSiteContentLength = 862,
  kSiteShortBody = 863,
  kSiteUrlOpen = 885,
  /* trace events of name resolution and of the TLS set-up */
  kSiteDnsLookupFailed = 470,
  kSiteDnsLookup = 483,
  kSiteUseSsl = 782,
};

/* The site that reports a host's answer refused for `fault`. */
constexpr long ResponseSite(TBX_AnswerFault fault)
{
  switch (fault) {
  case TBX_AnswerFault::kNotHttp:
    return kSiteNotHttp;
  case TBX_AnswerFault::kNoSpace:
    return kSiteNoSpace;
  case TBX_AnswerFault::kNotOk:
    return kSiteNot200;
  case TBX_AnswerFault::kNoBlankLine:
    return kSiteNoBlankLine;
  case TBX_AnswerFault::kBadContentLength:
    return kSiteContentLength;
  case TBX_AnswerFault::kShortBody:
    return kSiteShortBody;
  case TBX_AnswerFault::kBodyTooLong:
    return kSiteBodyTooLong;
  case TBX_AnswerFault::kBadStatus:
  case TBX_AnswerFault::kNone:
    break;
  }
  return kSiteStatus;
}

/* The site that reports a proxy's answer to CONNECT refused for `fault`. */
constexpr long ProxyAnswerSite(TBX_AnswerFault fault)
{
  switch (fault) {
  case TBX_AnswerFault::kNotHttp:
    return kSiteProxyNoHttp;
  case TBX_AnswerFault::kNotOk:
    return kSiteProxyNot200;
  case TBX_AnswerFault::kNoBlankLine:
    return kSiteProxyNoBlankLine;
  default:
    return kSiteProxyStatus;
  }
}

#endif /* TBXHTTP_SITES_H */
