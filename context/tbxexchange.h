/*
 * tbxexchange.h - one exchange with the host, as set-up, capture and general requests all run it:
 * the request element as text, signed under a merchant key or not, sent as the query of one GET
 * of the endpoint ("?DATA=" + the encoded text [+ "&SIGNATURE=" + the signature]); the answer
 * parsed and checked before anyone uses it.
 */
#ifndef TBXEXCHANGE_H
#define TBXEXCHANGE_H

#include "mvstring.h"
#include "xmlElement.h"

class TBX_Context;

/*
 * Sends `request` to `endpoint`, signed with keys/private/<*keyId> (unsigned when `keyId` is
 * null; an empty identifier is refused by the signing), and hands out the host's answer:
 * `response` its TBX element, `answerText` (when not null) the text exactly as received. The
 * answer must have MSGTYPE `expected`: "Error" raises 0x80040213 with the host's MESSAGE, another
 * type 0x80040208, text that is not XML with a TBX element 0x80040204. An endpoint that is not an
 * http(s) URL raises 0x80040206 naming `setting`, the configuration value it came from. Failures
 * of signing and of the transport propagate; `response` and `answerText` are written only on
 * success.
 */
void TBX_Exchange(TBX_Context& context, const MvString& endpoint, const char* setting,
                  xmlElement* request, const MvString* keyId, const MvString& expected,
                  xmlElementPtr& response, MvString* answerText = nullptr);

#endif /* TBXEXCHANGE_H */
