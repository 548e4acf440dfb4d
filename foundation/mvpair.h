// The pair objects stored in the maps, and the reference-holding pointer.
#ifndef MVPAIR_H
#define MVPAIR_H

#include "mvobject.h"
#include "mvstring.h"

// Holds one count in the reference count of the object it points to; the object is destroyed
// when the last count goes.
class MvPtr : public MvObject
{
public:
  MvPtr() : m_Object(nullptr) {}
  MvPtr(MvObject* p);
  MvPtr(const MvPtr& o);
  MvPtr& operator=(const MvPtr& o) { return set(o.m_Object); }
  MvPtr& operator=(MvObject* p) { return set(p); }
  ~MvPtr() override;
  using MvObject::operator=;
  MV_DECLARE_CLASS(MvPtr);

  // `other` must be an MvPtr: this pointer then shares its object.
  MvPtr& assign(const MvObject& other) override;

  MvObject* get() const { return m_Object; }
  MvObject* operator->() const { return m_Object; }
  MvObject& operator*() const { return *m_Object; }
  explicit operator bool() const { return m_Object != nullptr; }

  // Takes over a count the caller already holds (an object handed out with one new reference).
  void attach(MvObject* p);
  // Gives the count up to the caller without releasing it; the pointer becomes null.
  MvObject* detach();
  // Releases the object; the pointer becomes null.
  void reset() { set(nullptr); }

private:
  MvPtr& set(MvObject* p);

  MvObject* m_Object;
};

// A key (any findable) and a value (any library object), both owned copies. Ordered and found
// by the key; against another findable the key is compared with it.
class MvKeyValue : public MvFindable
{
public:
  MvKeyValue() : m_First(nullptr), m_Second(nullptr) {}
  MvKeyValue(const MvFindable& k, const MvObject& v);
  MvKeyValue(const MvKeyValue& o);
  ~MvKeyValue() override;
  MV_COPY_ASSIGN_THROUGH(MvKeyValue, MvFindable);
  MV_DECLARE_CLASS(MvKeyValue);

  // Another MvKeyValue: both parts become copies of its parts. Anything else: the value
  // becomes a copy of it.
  MvKeyValue& assign(const MvObject& o) override;
  MV_COMPARE_AS_HELD(MvKeyValue, m_First);

  MvFindable& first() { return *m_First; }
  const MvFindable& first() const { return *m_First; }
  MvObject& second() { return *m_Second; }
  const MvObject& second() const { return *m_Second; }

private:
  MvFindable* m_First;
  MvObject* m_Second;
};

// A string key and a shared object; the children of an XML element are kept as these.
class MvStrPtr : public MvFindable
{
public:
  MvStrPtr() = default;
  MvStrPtr(const MvString& k, const MvPtr& p) : m_First(k), m_Second(p) {}
  MvStrPtr(const MvStrPtr& o) = default;
  MV_COPY_ASSIGN_THROUGH(MvStrPtr, MvFindable);
  MV_DECLARE_CLASS(MvStrPtr);

  // `o` must be an MvStrPtr: copies its key and shares its object.
  MvStrPtr& assign(const MvObject& o) override;
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;

  MvString& first() { return m_First; }
  const MvString& first() const { return m_First; }
  MvPtr& second() { return m_Second; }
  const MvPtr& second() const { return m_Second; }

private:
  MvString m_First;
  MvPtr m_Second;
};

#endif
