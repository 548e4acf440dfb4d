/*
 * xmlElementEnum.cpp - the children enumerator.
 */
#include "xmlElementEnum.h"

#include <cstring>

MV_IMPLEMENT_CLASS(xmlElementEnum, MvObject)
MV_IMPLEMENT_CLASS(xmlEnumPtr, MvPtr)

void xmlElementEnum::create(xmlElement* e, const MvString& tag)
{
  m_Element = e;
  m_Current = e->firstChild();
  if (!tag.empty()) {
    while (m_Current) {
      if (m_Current->tagLength() == tag.size() &&
          std::memcmp(m_Current->tagData(), tag.c_str(), tag.size()) == 0)
        break;
      m_Current = e->nextChild(m_Current);
    }
  }
}

bool xmlElementEnum::getNext(xmlElement** out)
{
  if (!m_Current)
    return false;
  xmlElement* child = m_Current;
  child->addRef();
  *out = child;
  m_Current = m_Element->nextChild(child);
  return true;
}
