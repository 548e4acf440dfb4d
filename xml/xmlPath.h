/*
 * xmlPath.h - attribute access through paths of child steps.
 */
#ifndef XMLPATH_H
#define XMLPATH_H

class MvString;
class xmlElement;

/* Resolves `path` to an element and an attribute name. A path without "(." names an attribute of
 * `e` itself: result 0, *out = e (one reference), path unchanged. Otherwise the path is walked:
 * "TAG(.N)" steps to the N-th child tagged TAG (N read by xmlAtoi, empty = 0), a '.' may separate
 * the steps, and what is left after the last step is handed back in `path` as the attribute name,
 * e.g. "ORDER(.1).AMOUNT". Results: 0 found; 1 N is not a number; 3 no ')' after "(."; 4 no such
 * child. *out is written only on result 0. */
long xmlQuerySubElement(xmlElement* e, MvString& path, xmlElement** out);
/* getAttribute on what `path` resolves to; false when it does not resolve. */
bool xmlGetAttributeEx(xmlElement* e, const MvString& path, MvString& value);
/* setAttribute on what `path` resolves to and true; false when it does not resolve. */
bool xmlSetAttributeEx(xmlElement* e, const MvString& path, const MvString& value);

#endif
