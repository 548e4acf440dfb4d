#include "mvvector.h"

#include <cstdlib>
#include <cstring>

namespace {

// Spare slots added whenever an array must grow.
const uint64_t kSpareSlots = 16;

template <class P>
P* newArray(uint64_t n)
{
  if (n == 0)
    return nullptr;
  P* a = static_cast<P*>(std::calloc(n, sizeof(P)));
  if (!a)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  return a;
}

// Shared by both vector kinds: makes room for `n` pointers, keeping the old array on failure.
template <class P>
void growArray(P*& items, uint32_t size, uint32_t& capacity, unsigned n)
{
  if (capacity >= n)
    return;
  const uint64_t slots = uint64_t(n) + kSpareSlots;
  if (slots > UINT32_MAX)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  P* a = newArray<P>(slots);
  if (size)
    std::memcpy(a, items, size * sizeof(P));
  std::free(items);
  items = a;
  capacity = static_cast<uint32_t>(slots);
}

template <class P>
void removeAt(P* items, uint32_t& size, unsigned i)
{
  if (i >= size)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  std::memmove(items + i, items + i + 1, (size - i - 1) * sizeof(P));
  items[--size] = nullptr;
}

// Replaces (items, size, capacity) with a copy of another vector's, allocating first so that
// a failure leaves the target unchanged.
template <class P>
void copyArray(P*& items, uint32_t& size, uint32_t& capacity, P* const from, uint32_t fromSize,
               uint32_t fromCapacity)
{
  P* a = newArray<P>(fromCapacity);
  if (fromSize)
    std::memcpy(a, from, fromSize * sizeof(P));
  std::free(items);
  items = a;
  size = fromSize;
  capacity = fromCapacity;
}

} // namespace

MV_IMPLEMENT_CLASS(MvContainer, MvObject)

MvContainer& MvContainer::assign(MvObject& other)
{
  if (MvContainer* o = dynamic_cast<MvContainer*>(&other)) {
    m_Size = o->m_Size;
    m_Capacity = o->m_Capacity;
  }
  return *this;
}

void MvContainer::clear()
{
  m_Size = 0;
  m_Capacity = 0;
}

MV_IMPLEMENT_CLASS(MvFindableContainer, MvFindable)

bool MvFindableContainer::operator<(const MvFindable&) const
{
  return false;
}

bool MvFindableContainer::operator==(const MvFindable&) const
{
  return false;
}

MvFindableContainer& MvFindableContainer::assign(MvObject& other)
{
  if (MvFindableContainer* o = dynamic_cast<MvFindableContainer*>(&other)) {
    m_Size = o->m_Size;
    m_Capacity = o->m_Capacity;
  }
  return *this;
}

void MvFindableContainer::clear()
{
  m_Size = 0;
  m_Capacity = 0;
}

// ---- MvVector

MV_IMPLEMENT_CLASS(MvVector, MvContainer)

MvVector::MvVector(unsigned n) : m_Items(nullptr)
{
  m_Items = newArray<MvObject*>(n);
  m_Capacity = n;
}

MvVector::MvVector(const MvVector& o) : MvContainer(o), m_Items(nullptr)
{
  assign(o);
}

MvVector::~MvVector()
{
  std::free(m_Items);
}

MvVector& MvVector::assign(const MvObject& other)
{
  const MvVector* o = MvAs<MvVector>(&other);
  if (!o || o == this)
    return *this;
  copyArray(m_Items, m_Size, m_Capacity, o->m_Items, o->m_Size, o->m_Capacity);
  return *this;
}

void MvVector::clear()
{
  std::free(m_Items);
  m_Items = nullptr;
  MvContainer::clear();
}

void MvVector::push_back(MvObject* p)
{
  grow(m_Size + 1);
  m_Items[m_Size++] = p;
}

void MvVector::pop_back()
{
  if (m_Size)
    m_Items[--m_Size] = nullptr;
}

MvObject* MvVector::at(unsigned i) const
{
  if (i >= m_Size)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return m_Items[i];
}

void MvVector::remove(unsigned i)
{
  removeAt(m_Items, m_Size, i);
}

void MvVector::grow(unsigned n)
{
  growArray(m_Items, m_Size, m_Capacity, n);
}

// ---- MvFindableVector

MV_IMPLEMENT_CLASS(MvFindableVector, MvFindableContainer)

MvFindableVector::MvFindableVector(unsigned n) : m_Items(nullptr)
{
  m_Items = newArray<const MvFindable*>(n);
  m_Capacity = n;
}

MvFindableVector::MvFindableVector(const MvFindableVector& o)
  : MvFindableContainer(o), m_Items(nullptr)
{
  assign(o);
}

MvFindableVector::~MvFindableVector()
{
  std::free(m_Items);
}

MvFindableVector& MvFindableVector::assign(const MvObject& other)
{
  const MvFindableVector* o = MvAs<MvFindableVector>(&other);
  if (!o || o == this)
    return *this;
  copyArray(m_Items, m_Size, m_Capacity, o->m_Items, o->m_Size, o->m_Capacity);
  return *this;
}

void MvFindableVector::clear()
{
  std::free(m_Items);
  m_Items = nullptr;
  MvFindableContainer::clear();
}

bool MvFindableVector::operator<(const MvFindable& o) const
{
  const MvFindableVector* v = MvAs<MvFindableVector>(&o);
  if (!v)
    return m_Size == 0 || *m_Items[0] < o;
  if (m_Size == 0)
    return v->m_Size != 0;
  // Only the first elements decide: a group is known by its key whatever its size.
  return v->m_Size != 0 && *m_Items[0] < *v->m_Items[0];
}

bool MvFindableVector::operator==(const MvFindable& o) const
{
  const MvFindableVector* v = MvAs<MvFindableVector>(&o);
  if (!v)
    return m_Size != 0 && *m_Items[0] == o;
  if (m_Size == 0 || v->m_Size == 0)
    return m_Size == v->m_Size;
  return *m_Items[0] == *v->m_Items[0];
}

void MvFindableVector::push_back(const MvFindable* p)
{
  grow(m_Size + 1);
  m_Items[m_Size++] = p;
}

void MvFindableVector::pop_back()
{
  if (m_Size)
    m_Items[--m_Size] = nullptr;
}

const MvFindable* MvFindableVector::at(unsigned i) const
{
  if (i >= m_Size)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return m_Items[i];
}

void MvFindableVector::remove(unsigned i)
{
  removeAt(m_Items, m_Size, i);
}

void MvFindableVector::grow(unsigned n)
{
  growArray(m_Items, m_Size, m_Capacity, n);
}

// ---- MvStack

MV_IMPLEMENT_CLASS(MvStack, MvVector)
