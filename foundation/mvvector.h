// Growable arrays of object pointers. The containers never own the objects they point to.
#ifndef MVVECTOR_H
#define MVVECTOR_H

#include <cstdint>

#include "mvobject.h"

class MvContainer : public MvObject
{
public:
  MvContainer() : m_Size(0), m_Capacity(0) {}
  MvContainer(const MvContainer& o) : MvObject(o), m_Size(0), m_Capacity(0) {}
  MvContainer& operator=(const MvContainer& o) { assign(o); return *this; }
  using MvObject::operator=;
  using MvObject::assign;
  MV_DECLARE_CLASS(MvContainer);

  unsigned size() const { return m_Size; }
  unsigned capacity() const { return m_Capacity; }
  // Copies the size and capacity fields only; the concrete containers override it with a
  // full copy.
  virtual MvContainer& assign(MvObject& other);
  virtual void clear();

protected:
  uint32_t m_Size;
  uint32_t m_Capacity;
};

class MvFindableContainer : public MvFindable
{
public:
  MvFindableContainer() : m_Size(0), m_Capacity(0) {}
  MvFindableContainer(const MvFindableContainer& o) : MvFindable(o), m_Size(0), m_Capacity(0) {}
  MvFindableContainer& operator=(const MvFindableContainer& o) { assign(o); return *this; }
  using MvFindable::operator=;
  using MvFindable::assign;
  MV_DECLARE_CLASS(MvFindableContainer);

  unsigned size() const { return m_Size; }
  unsigned capacity() const { return m_Capacity; }
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;
  virtual MvFindableContainer& assign(MvObject& other);
  virtual void clear();

protected:
  uint32_t m_Size;
  uint32_t m_Capacity;
};

// Pointers to any library objects. Growing keeps 16 spare slots; indexes are checked.
class MvVector : public MvContainer
{
public:
  typedef MvObject* iterator;

  MvVector() : m_Items(nullptr) {}
  // Capacity `n`, size 0.
  explicit MvVector(unsigned n);
  // Points to the same objects as `o`.
  MvVector(const MvVector& o);
  MvVector& operator=(const MvVector& o) { assign(o); return *this; }
  ~MvVector() override;
  using MvContainer::operator=;
  MV_DECLARE_CLASS(MvVector);

  // `other` must be an MvVector (anything else leaves this vector unchanged): afterwards this
  // vector has its capacity and points to the same objects.
  MvVector& assign(const MvObject& other) override;
  MvVector& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }
  void clear() override;

  void push_back(MvObject* p);
  // Drops the last pointer; nothing on an empty vector.
  void pop_back();
  // Both throw MVFC_Exception(TBX_E_OUT_OF_RANGE) when `i` is not below the size.
  MvObject* at(unsigned i) const;
  void remove(unsigned i);
  // Ensures room for `n` pointers (n + 16 slots when it must grow).
  void grow(unsigned n);
  // The first element or null; end() is always null. For testing emptiness, not for walking.
  iterator begin() const { return m_Size ? m_Items[0] : nullptr; }
  iterator end() const { return nullptr; }

private:
  MvObject** m_Items;
};

// Pointers to findable objects; as a findable itself it stands for its first element, so a
// vector can be the key of an ordered tree (the multimaps keep each key's values this way).
class MvFindableVector : public MvFindableContainer
{
public:
  typedef const MvFindable* iterator;

  MvFindableVector() : m_Items(nullptr) {}
  explicit MvFindableVector(unsigned n);
  MvFindableVector(const MvFindableVector& o);
  MvFindableVector& operator=(const MvFindableVector& o) { assign(o); return *this; }
  ~MvFindableVector() override;
  using MvFindableContainer::operator=;
  MV_DECLARE_CLASS(MvFindableVector);

  MvFindableVector& assign(const MvObject& other) override;
  MvFindableVector& assign(MvObject& other) override
  {
    return assign(static_cast<const MvObject&>(other));
  }
  void clear() override;

  // Against another vector the first elements decide (an empty vector is below any other
  // and equal only to an empty one); against any other findable the first element is
  // compared with it (an empty vector is below it and never equal).
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;

  void push_back(const MvFindable* p);
  void pop_back();
  const MvFindable* at(unsigned i) const;
  void remove(unsigned i);
  void grow(unsigned n);
  iterator begin() const { return m_Size ? m_Items[0] : nullptr; }
  iterator end() const { return nullptr; }

private:
  const MvFindable** m_Items;
};

// The walk stack of tree algorithms: push_back, at(size() - 1) and pop_back.
class MvStack : public MvVector
{
public:
  MvStack() = default;
  explicit MvStack(unsigned n) : MvVector(n) {}
  MvStack(const MvStack& o) = default;
  MvStack& operator=(const MvStack& o) { assign(o); return *this; }
  using MvVector::operator=;
  MV_DECLARE_CLASS(MvStack);

  void push(MvObject* p) { push_back(p); }
  MvObject* top() const { return at(size() - 1); }
  void pop() { pop_back(); }
};

#endif
