/*
 * xmlElementEnum.h - an enumerator over an element's children in insertion order.
 */
#ifndef XMLELEMENTENUM_H
#define XMLELEMENTENUM_H

#include "mvobject.h"
#include "xmlElement.h"

class xmlElementEnum : public MvObject
{
public:
  xmlElementEnum() = default;
  ~xmlElementEnum() override = default;
  xmlElementEnum(const xmlElementEnum&) = delete;
  xmlElementEnum& operator=(const xmlElementEnum&) = delete;

  MV_DECLARE_CLASS(xmlElementEnum);

  /* Holds `e` and starts at its first child (empty `tag`) or at its first child tagged `tag`
   * (nowhere when there is none). The walk then goes on through every later child, whatever
   * its tag. The element's children must not be removed while it is enumerated. */
  void create(xmlElement* e, const MvString& tag);
  /* False at the end; else the child at the current position in *out with one reference for
   * the caller, and the position moves on. */
  bool getNext(xmlElement** out);
  bool isEmpty() const { return m_Current == nullptr; }

private:
  xmlElementPtr m_Element;
  xmlElement* m_Current = nullptr;  // the next child to hand out
};

/* A reference-holding pointer to an enumerator. */
class xmlEnumPtr : public xmlTypedPtr<xmlElementEnum, xmlEnumPtr>
{
public:
  using xmlTypedPtr::xmlTypedPtr;
  using xmlTypedPtr::operator=;
  MV_DECLARE_CLASS(xmlEnumPtr);
};

#endif
