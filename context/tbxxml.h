/*
 * tbxxml.h - the XML helpers of TBX_Context (declared in tbxctx.h, defined in tbxxml.cpp):
 * XmlFromStream, XmlFromString, XmlCreateRequest, CheckResponseMsgType and CheckAnswer. They
 * need no store, and sit beneath everything that reads a store file or an answer of the host.
 */
#ifndef TBXXML_H
#define TBXXML_H

#include "mvstring.h"

class xmlElement;

/* The attribute `name` of a store file's TBX element `top` as the store answers values: false
 * when it is absent or empty (`value` is then unchanged). */
bool TBX_StoreValue(xmlElement* top, const MvString& name, MvString& value);

/* What a failure to parse the store file at `path`, holding `text`, says: "the store file PATH is
 * not XML with a TBX element", and what in the text the store does not accept when it holds an
 * XML declaration or processing instruction, a comment, or a DOCTYPE or CDATA section. */
MvString TBX_NotStoreXml(const MvString& path, const MvString& text);

#endif /* TBXXML_H */
