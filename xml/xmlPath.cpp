/*
 * xmlPath.cpp - attribute access through paths of child steps.
 */
#include "xmlPath.h"
#include "xmlCodec.h"
#include "xmlElement.h"

long xmlQuerySubElement(xmlElement* e, MvString& path, xmlElement** out)
{
  static const char kStep[] = "(.";
  unsigned cut = path.find_first_of(kStep, 0);
  if (cut == MvString::npos) {
    e->addRef();
    *out = e;
    return 0;
  }
  // Walk "TAG(.N)" steps; `at` holds a reference to the element reached so far.
  xmlElementPtr at(e);
  MvString rest(path);
  while (cut != MvString::npos) {
    const MvString tag(rest, 0, cut);
    const unsigned open = cut + 2;
    unsigned close = open;
    while (close < rest.size() && rest.c_str()[close] != ')')
      ++close;
    if (close >= rest.size())
      return 3;
    int index = 0;
    if (!xmlAtoi(MvString(rest, open, close - open), index))
      return 1;
    xmlElementPtr child;
    try {
      if (!at->getChild(tag, index, child.receive()))
        return 4;
    } catch (const MVFC_Exception& ex) {
      if (ex.code() != TBX_E_OUT_OF_RANGE)
        throw;
      return 4;
    }
    at = child;
    unsigned next = close + 1;
    if (next < rest.size() && rest.c_str()[next] == '.')
      ++next;
    rest = MvString(rest, next, MvString::npos);
    cut = rest.find_first_of(kStep, 0);
  }
  path = rest;
  xmlElement* found = at.get();
  found->addRef();
  *out = found;
  return 0;
}

bool xmlGetAttributeEx(xmlElement* e, const MvString& path, MvString& value)
{
  MvString name(path);
  xmlElementPtr at;
  if (xmlQuerySubElement(e, name, at.receive()) != 0)
    return false;
  return at->getAttribute(name, value);
}

bool xmlSetAttributeEx(xmlElement* e, const MvString& path, const MvString& value)
{
  MvString name(path);
  xmlElementPtr at;
  if (xmlQuerySubElement(e, name, at.receive()) != 0)
    return false;
  return at->setAttribute(name, value);
}
