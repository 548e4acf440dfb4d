/*
 * xmlElementEnum.cpp - the children enumerator.
 */
#include "xmlElementEnum.h"

MV_IMPLEMENT_CLASS(xmlElementEnum, MvObject)
MV_IMPLEMENT_CLASS(xmlEnumPtr, MvPtr)

void xmlElementEnum::create(xmlElement* e, const MvString& tag)
{
    m_Element = e;
    m_Start = nullptr;
    if (tag.empty()) {
        m_Start = e->m_Children.begin().item();
    } else if (const MvFindableVector* group = e->m_Children.group(tag)) {
        m_Start = static_cast<const MvMapItem*>(group->at(0));
    }
    m_End = nullptr;
    m_Current = m_Start;
}

bool xmlElementEnum::getNext(xmlElement** out)
{
    if (!m_Current)
        return false;
    const MvStrPtr& entry = static_cast<const MvStrPtr&>(*m_Current->object());
    xmlElement* child = static_cast<xmlElement*>(entry.second().get());
    child->addRef();
    *out = child;
    m_Current = m_Current->next();
    return true;
}
