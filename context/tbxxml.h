/*
 * tbxxml.h - the XML documents of the store and of the exchanges with the host: text to its TBX
 * element, new requests, and the checks an answer must pass. They need no store, and sit beneath
 * everything that reads a store file or an answer of the host.
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

/* Parses `in` and hands out its first top-level TBX element (one reference for the caller);
 * 0x80040204 when the text is not XML or has no TBX element. */
void TBX_XmlFromStream(MvStringStream& in, xmlElement** element);
void TBX_XmlFromString(const MvString& text, xmlElement** element);
/* The same on `length` bytes at `text`, parsed where they lie (no copy); a text of 4 GiB or more
 * raises 0x8007000E, as a copy of it would. */
void TBX_XmlFromText(const char* text, size_t length, xmlElement** element);
/* A new element TBX with MSGTYPE = `type` (one reference for the caller). */
void TBX_XmlCreateRequest(const MvString& type, xmlElement** element);
/* Returns when `response` has MSGTYPE `expected`; 0x80040213 with the host's MESSAGE when it is
 * "Error", else 0x80040208 naming both types. */
void TBX_CheckResponseMsgType(xmlElement* response, const MvString& expected);
/* Parses the host's `answer` to a request sent to `url` and checks its type as
 * TBX_CheckResponseMsgType does; the failures name the URL (without credentials or query). */
void TBX_CheckAnswer(MvStringStream& answer, const MvString& expected, const MvString& url,
                     xmlElement** element);

#endif /* TBXXML_H */
