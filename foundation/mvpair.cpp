#include "mvpair.h"

// ---- MvPtr

MV_IMPLEMENT_CLASS(MvPtr, MvObject)

MvPtr::MvPtr(MvObject* p) : m_Object(p)
{
  if (p)
    p->addRef();
}

MvPtr::MvPtr(const MvPtr& o) : MvObject(o), m_Object(o.m_Object)
{
  if (m_Object)
    m_Object->addRef();
}

MvPtr::~MvPtr()
{
  set(nullptr);
}

MvPtr& MvPtr::assign(const MvObject& other)
{
  if (const MvPtr* o = MvAs<MvPtr>(&other))
    set(o->m_Object);
  return *this;
}

MvPtr& MvPtr::set(MvObject* p)
{
  // Count the new object first: it may be owned by the old one.
  if (p)
    p->addRef();
  MvObject* old = m_Object;
  m_Object = p;
  if (old)
    old->release();
  return *this;
}

void MvPtr::attach(MvObject* p)
{
  MvObject* old = m_Object;
  m_Object = p;
  if (old)
    old->release();
}

MvObject* MvPtr::detach()
{
  MvObject* p = m_Object;
  m_Object = nullptr;
  return p;
}

// ---- MvKeyValue

MV_IMPLEMENT_CLASS(MvKeyValue, MvFindable)

MvKeyValue::MvKeyValue(const MvFindable& k, const MvObject& v) : m_First(nullptr), m_Second(nullptr)
{
  m_First = MvCloneAs(k);
  try {
    m_Second = MvClone(v);
  } catch (...) {
    delete m_First;
    throw;
  }
}

MvKeyValue::MvKeyValue(const MvKeyValue& o) : MvFindable(o), m_First(nullptr), m_Second(nullptr)
{
  try {
    assign(o);
  } catch (...) {
    delete m_First;
    delete m_Second;
    throw;
  }
}

MvKeyValue::~MvKeyValue()
{
  delete m_First;
  delete m_Second;
}

namespace {

// Makes `*part` a copy of `from`: in place when the classes match, so the part keeps its
// address (a map may have cached it), otherwise by a new copy.
template <class T>
void copyPart(T*& part, const T* from)
{
  if (part && from && typeid(*part) == typeid(*from)) {
    part->assign(*from);
    return;
  }
  T* copy = from ? MvCloneAs(*from) : nullptr;
  delete part;
  part = copy;
}

}  // namespace

MvKeyValue& MvKeyValue::assign(const MvObject& o)
{
  if (&o == this)
    return *this;
  if (const MvKeyValue* kv = MvAs<MvKeyValue>(&o)) {
    copyPart(m_First, kv->m_First);
    copyPart(m_Second, kv->m_Second);
    return *this;
  }
  copyPart(m_Second, &o);
  return *this;
}

// ---- MvStrPtr

MV_IMPLEMENT_CLASS(MvStrPtr, MvFindable)

MvStrPtr& MvStrPtr::assign(const MvObject& o)
{
  if (const MvStrPtr* sp = MvAs<MvStrPtr>(&o)) {
    if (sp != this) {
      m_First = sp->m_First;
      m_Second = sp->m_Second;
    }
  }
  return *this;
}

bool MvStrPtr::operator<(const MvFindable& o) const
{
  if (const MvStrPtr* sp = MvAs<MvStrPtr>(&o))
    return m_First.compare(sp->m_First) < 0;
  return m_First < o;
}

bool MvStrPtr::operator==(const MvFindable& o) const
{
  if (const MvStrPtr* sp = MvAs<MvStrPtr>(&o))
    return m_First.compare(sp->m_First) == 0;
  return m_First == o;
}
