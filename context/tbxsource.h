/*
 * tbxsource.h - the part of TBX_Context (declared in tbxctx.h, defined in tbxsource.cpp) that
 * reaches beyond the store's own files: StreamFromURL, which reads a local file or fetches a URL
 * with the transport settings of the store's settings.xml, and RequestToURL, which builds the
 * URL of a request to the host.
 *
 * The settings are read straight from settings.xml, not through QueryValue: the store's values
 * are read with StreamFromURL, so that would go round in a circle. A store that is itself a URL
 * has its settings fetched without settings, which bounds the nesting.
 */
#ifndef TBXSOURCE_H
#define TBXSOURCE_H

#include "tbxctx.h"

#endif /* TBXSOURCE_H */
