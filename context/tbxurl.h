/*
 * tbxurl.h - stream sources: a location is an "http:" or "https:" URL or a local file, read
 * whole. These are the steps that need no store; TBX_Store::StreamFromURL (tbxstore.h) joins
 * them with the store's transport settings.
 */
#ifndef TBXURL_H
#define TBXURL_H

#include "mvstring.h"

class xmlElement;
struct URL_INFO;

/* True when `location` begins with "http:" or "https:" (case-sensitive). */
bool IsHttp(const MvString& location);

/*
 * Appends the whole local file `location` (zero bytes included) to `out`. 0x80040219 with the
 * location as message when it cannot be opened or is a directory; 0x80040203 when a read fails.
 * Either way nothing is appended.
 */
void TBX_StreamFromFile(const MvString& location, MvStringStream& out);

/* What TBX_StreamFromFile raises for a read of `location` that did not end in Read. */
[[noreturn]] void TBX_ThrowUnread(bool opened, const MvString& location);

/* Splits the URL `location` into `info`; 0x80042019 naming it (without credentials or query)
 * when it is not of the form scheme://host[:port]/path. */
void TBX_SplitLocation(const MvString& location, URL_INFO& info);

/*
 * Applies the transport settings of a store's settings.xml (its TBX element `settings`) to
 * `info`: USEPROXY "1" with PROXYHOST (and PROXYPORT, else "8080"), TRACEOPT, SSLVERIFY (only
 * "0" turns checks off), SSLCAFILE and TIMEOUT. A TIMEOUT that is not whole seconds from 0 to
 * 86400 raises 0x80040207, naming the settings file of the store at `storePath`.
 */
void TBX_ApplyTransportSettings(xmlElement* settings, const MvString& storePath, URL_INFO& info);

#endif /* TBXURL_H */
