/*
 * tbxsetup.h - bringing a store into working order against the host's set-up endpoint.
 *
 * The operations are members of TBX_Setup, which works on a store, its keys and the host
 * exchange:
 *
 *   Setup         SetupRequest (VERSION: config.xml VERSION or "0") -> SetupResponse, whose
 *                 complete text becomes config.xml.
 *   LoadDefaults  LoadDefaultsRequest -> LoadDefaultsResponse, whose complete text becomes
 *                 default.xml.
 *   ImportKey     KeyQueryRequest (KEYID) -> KeyQueryResponse; its KEYID (when present) replaces
 *                 the caller's identifier and its KEYBLOB becomes keys/public/<KEYID>.
 *   PublishKey    KeyExportRequest (KEYID, KEYBLOB = keys/public/<id>) -> KeyExportResponse; the
 *                 identifier then becomes keys/current.
 *   Reconfigure   creates keys/, keys/private/ (0700), keys/public/; Setup; LoadDefaults unless
 *                 default.xml has TBX.ISVALID "yes"; ImportKey of config.xml VTKEYID; GenKey of
 *                 "0-" CUSTOMERID "-" uuid; PublishKey of that identifier; then removes the
 *                 private key files of that naming but the new key's and the one keys/current
 *                 named before (offers in flight); public keys stay. The whole of it runs
 *                 under the store's lock: a second set-up of the store waits for the first.
 *
 * Each exchange is one unsigned GET of the endpoint with "?DATA=" and the request text; the
 * endpoint is the option VTAUTOURL when set, else config.xml TBX.VTAUTOURL, resolved afresh for
 * every exchange. Answers are checked before anything is stored: an "Error" answer raises
 * 0x80040213 with the host's MESSAGE, another type 0x80040208, text that is not XML with a TBX
 * element 0x80040204.
 *
 * What the host sends is not trusted to name files or to be a key:
 *  - VTKEYID and CUSTOMERID of a SetupResponse, the KEYID of a KeyQueryResponse and every
 *    identifier derived from them must be plain names (TBX_IsPlainKeyId), else 0x80040204 and
 *    the answer is not stored;
 *  - a KEYBLOB is stored only when it is even-length hex of an RSA public key, else 0x8004020B.
 *
 * A failure stops Reconfigure where it happens: files written by the earlier steps stay (nothing
 * is rolled back) and keys/current keeps naming the previous key until PublishKey succeeds.
 */
#ifndef TBXSETUP_H
#define TBXSETUP_H

#include "mvstring.h"
#include "tbxexchange.h"
#include "tbxkeys.h"
#include "tbxstore.h"

/* Message types of the set-up exchanges. */
#define TBX_MSG_SETUP_REQUEST       "SetupRequest"
#define TBX_MSG_SETUP_RESPONSE      "SetupResponse"
#define TBX_MSG_DEFAULTS_REQUEST    "LoadDefaultsRequest"
#define TBX_MSG_DEFAULTS_RESPONSE   "LoadDefaultsResponse"
#define TBX_MSG_KEY_QUERY_REQUEST   "KeyQueryRequest"
#define TBX_MSG_KEY_QUERY_RESPONSE  "KeyQueryResponse"
#define TBX_MSG_KEY_EXPORT_REQUEST  "KeyExportRequest"
#define TBX_MSG_KEY_EXPORT_RESPONSE "KeyExportResponse"

/* The identifier of a new merchant key: "0-" + customerId + "-" + uuid (32 hex digits). */
MvString TBX_NewMerchantKeyId(const MvString& customerId, const MvString& uuid);

/* True when `id` has the form TBX_NewMerchantKeyId gives: "0-", anything, "-" and 32 lowercase
 * hex digits. Only files of this form are ever removed from keys/private/. */
bool TBX_IsMerchantKeyId(const MvString& id);

class TBX_Setup
{
public:
  TBX_Setup(TBX_Store& store, TBX_Keys& keys, TBX_HostExchange& exchange)
      : m_Store(store), m_Keys(keys), m_Exchange(exchange)
  {}
  TBX_Setup(const TBX_Setup&) = delete;
  /* Takes the other's endpoint override; stays bound to its own store, keys and exchange. */
  TBX_Setup& operator=(const TBX_Setup& other)
  {
    m_AutoUrl = other.m_AutoUrl;
    return *this;
  }

  /* "UserName" or "Password" (the credentials the exchange sends) or "VTAUTOURL" (the set-up
   * endpoint override), case-sensitive; any other name raises 0x80040207. */
  void SetOption(const MvString& name, const MvString& value);

  void Reconfigure();
  void Setup();
  void ImportKey(MvString& keyId);
  void LoadDefaults();
  void PublishKey(const MvString& keyId);

private:
  /* The set-up endpoint: option VTAUTOURL, else config.xml TBX.VTAUTOURL; when neither gives
   * one, the step's failure `code` at `site`, saying what to give. */
  MvString SetupEndpoint(long code, long site);
  /* After a set-up that made `current` the merchant's key: removes the private key files of the
   * store's own naming but those of `current` and `previous`. */
  void PrunePrivateKeys(const MvString& current, const MvString& previous);

  TBX_Store& m_Store;
  TBX_Keys& m_Keys;
  TBX_HostExchange& m_Exchange;
  MvString m_AutoUrl; /* option "VTAUTOURL": set-up endpoint override */
};

#endif /* TBXSETUP_H */
