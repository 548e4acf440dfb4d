/*
 * tbxhttp_sites.h - the error sites of the transport, which reports under one unit name from
 * every file of this folder.
 */
#ifndef TBXHTTP_SITES_H
#define TBXHTTP_SITES_H

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

#endif /* TBXHTTP_SITES_H */
