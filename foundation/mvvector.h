// Growable arrays of object pointers. The containers never own the objects they point to.
#ifndef MVVECTOR_H
#define MVVECTOR_H

#include <cstdint>

#include "mvobject.h"

// The size and capacity every container has, on top of `Base` (MvObject or MvFindable); `Self`
// is the container class itself.
template <class Base, class Self>
class MvSized : public Base
{
public:
  MvSized() : m_Size(0), m_Capacity(0) {}
  MvSized(const MvSized& o) : Base(o), m_Size(0), m_Capacity(0) {}
  using Base::assign;

  unsigned size() const { return m_Size; }
  unsigned capacity() const { return m_Capacity; }
  // Copies the size and capacity fields only; the concrete containers override it with a
  // full copy.
  virtual Self& assign(MvObject& other);
  virtual void clear();

protected:
  uint32_t m_Size;
  uint32_t m_Capacity;
};

class MvContainer : public MvSized<MvObject, MvContainer>
{
public:
  MvContainer() = default;
  MvContainer(const MvContainer& o) = default;
  MV_COPY_ASSIGN_THROUGH(MvContainer, MvObject);
  MV_DECLARE_CLASS(MvContainer);
};

class MvFindableContainer : public MvSized<MvFindable, MvFindableContainer>
{
public:
  MvFindableContainer() = default;
  MvFindableContainer(const MvFindableContainer& o) = default;
  MV_COPY_ASSIGN_THROUGH(MvFindableContainer, MvFindable);
  MV_DECLARE_CLASS(MvFindableContainer);

  // A container as such has no order: both answer false.
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;
};

// The pointer array of both vector kinds, on top of their container class `Base` (which holds
// the size and capacity). Growing keeps 16 spare slots; indexes are checked.
template <class Base, class P>
class MvPtrArray : public Base
{
public:
  typedef P iterator;

  MvPtrArray() : m_Items(nullptr) {}
  // Capacity `n`, size 0.
  explicit MvPtrArray(unsigned n);
  // The concrete vector copies the pointers (through its assign).
  MvPtrArray(const MvPtrArray& o) : Base(o), m_Items(nullptr) {}
  MvPtrArray& operator=(const MvPtrArray&) = delete;
  ~MvPtrArray() override;

  void clear() override;
  void push_back(P p);
  // Drops the last pointer; nothing on an empty vector.
  void pop_back();
  // Both throw MVFC_Exception(TBX_E_OUT_OF_RANGE) when `i` is not below the size.
  P at(unsigned i) const;
  void remove(unsigned i);
  // Ensures room for `n` pointers (n + 16 slots when it must grow).
  void grow(unsigned n);
  // The first element or null; end() is always null. For testing emptiness, not for walking.
  iterator begin() const { return this->m_Size ? m_Items[0] : nullptr; }
  iterator end() const { return nullptr; }

protected:
  // Afterwards this array has `o`'s capacity and points to the same objects; a failure leaves
  // it unchanged.
  void copyFrom(const MvPtrArray& o);
  // The concrete vector's assign: copies `other` when it is a Self, else leaves this unchanged.
  template <class Self>
  Self& assignFrom(const MvObject& other)
  {
    const Self* o = MvAs<Self>(&other);
    if (o && o != this)
      copyFrom(*o);
    return static_cast<Self&>(*this);
  }

  P* m_Items;
};

// Pointers to any library objects.
class MvVector : public MvPtrArray<MvContainer, MvObject*>
{
public:
  MvVector() = default;
  explicit MvVector(unsigned n) : MvPtrArray(n) {}
  // Points to the same objects as `o`.
  MvVector(const MvVector& o) : MvPtrArray(o) { copyFrom(o); }
  MV_COPY_ASSIGN_THROUGH(MvVector, MvContainer);
  MV_DECLARE_CLASS(MvVector);

  // `other` must be an MvVector (anything else leaves this vector unchanged): afterwards this
  // vector has its capacity and points to the same objects.
  MvVector& assign(const MvObject& other) override { return assignFrom<MvVector>(other); }
  MvVector& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }
};

// Pointers to findable objects; as a findable itself it stands for its first element, so a
// vector can be the key of an ordered tree (the multimaps keep each key's values this way).
class MvFindableVector : public MvPtrArray<MvFindableContainer, const MvFindable*>
{
public:
  MvFindableVector() = default;
  explicit MvFindableVector(unsigned n) : MvPtrArray(n) {}
  MvFindableVector(const MvFindableVector& o) : MvPtrArray(o) { copyFrom(o); }
  MV_COPY_ASSIGN_THROUGH(MvFindableVector, MvFindableContainer);
  MV_DECLARE_CLASS(MvFindableVector);

  MvFindableVector& assign(const MvObject& other) override
  {
    return assignFrom<MvFindableVector>(other);
  }
  MvFindableVector& assign(MvObject& other) override
  {
    return assign(static_cast<const MvObject&>(other));
  }

  // Against another vector the first elements decide (an empty vector is below any other
  // and equal only to an empty one); against any other findable the first element is
  // compared with it (an empty vector is below it and never equal).
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;
};

// The walk stack of tree algorithms: push_back, at(size() - 1) and pop_back.
class MvStack : public MvVector
{
public:
  MvStack() = default;
  explicit MvStack(unsigned n) : MvVector(n) {}
  MvStack(const MvStack& o) = default;
  MV_COPY_ASSIGN_THROUGH(MvStack, MvVector);
  MV_DECLARE_CLASS(MvStack);

  void push(MvObject* p) { push_back(p); }
  MvObject* top() const { return at(size() - 1); }
  void pop() { pop_back(); }
};

#endif
