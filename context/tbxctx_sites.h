/*
 * tbxctx_sites.h - the error sites of the unit "tbxctx": the store, its keys, its set-up and the
 * messages all report under this one name, so their line values are kept in this one table.
 */
#ifndef TBXCTX_SITES_H
#define TBXCTX_SITES_H

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
constexpr char kUnit[] = "tbxctx";
enum Site : long
{
  // The store: values and files.
  kSiteLogMessage = 0,
  kSiteOpenTrace = 23,
  kSiteSetOption = 38,
  kSiteQueryNoContext = 71,
  kSiteQueryBytesNoContext = 112,
  kSiteSetValueName = 134,
  kSiteUpdateBytesNoContext = 167,
  kSiteUpdateBytesOpen = 178,
  kSiteUpdateBytesWrite = 181,
  kSiteUpdateNoContext = 193,
  kSiteUpdateOpen = 205,
  kSiteUpdateWrite = 212,
  kSiteUpdateTrace = 217,
  // XML documents, request URLs and the host's answers.
  kSiteXmlParse = 46,
  kSiteXmlNoTbx = 49,
  kSiteRequestUrl = 145,
  kSiteHostError = 481,
  kSiteWrongType = 487,
  // Keys and signatures.
  kSiteGenKeyCrypto = 321,
  kSiteKeyId = 330,
  kSiteKeyBits = 335,
  kSiteVerifyNoKey = 359,
  kSiteVerifyKeyBlob = 362,
  kSiteVerifySignatureBlob = 365,
  kSiteVerifyInvalid = 384,
  kSiteSignNoKey = 403,
  kSiteSignKeyBlob = 421,
  kSiteSignCrypto = 426,
  // Set-up against the host.
  kSiteSetupNoEndpoint = 235,
  kSiteSetupIdentifier = 248,
  kSiteImportNoEndpoint = 279,
  kSiteImportRequestedId = 281,
  kSiteImportAnsweredId = 299,
  kSiteImportKeyBlob = 304,
  kSiteImportTrace = 311,
  kSiteDefaultsNoEndpoint = 442,
  kSiteDefaultsTrace = 465,
  kSitePublishNoEndpoint = 504,
  kSitePublishKeyId = 515,
  kSitePublishNoKey = 520,
  kSitePublishTrace = 536,
  kSiteReconfigureNoContext = 642,
  kSiteReconfigureTrace = 650,
  kSiteReconfigureNoHostKey = 670,
  kSiteReconfigureNewKeyId = 678,
  kSiteReconfigureDone = 686,
  // Messages.
  kSiteCreateNoKey = 554,
  kSiteCreateGiven = 555,
  kSiteSetNoElement = 570,
  kSiteSetBadName = 571,
  kSiteGetNoElement = 578,
  kSiteGetAbsent = 581,
  kSiteUrlNoElement = 587,
  kSiteUrlNoVturl = 596,
  // Sending a message of a type sent on its own (the capture).
  kSiteSendNoElement = 605,
  kSiteSendNoEndpoint = 616,
  kSiteSendLacksAttribute = 620,
  kSiteOpenNoSignature = 722,
  kSiteOpenNoKey = 727,
  kSiteOpenNotConfirmation = 728,
  kSiteOpenOwnKey = 729,
  kSiteOpenNotHostKey = 730,
  kSiteRequestNoElement = 775,
  kSiteRequestNoEndpoint = 791,
};

#endif /* TBXCTX_SITES_H */
