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

}  // namespace

// ---- MvSized, MvContainer, MvFindableContainer

template <class Base, class Self>
Self& MvSized<Base, Self>::assign(MvObject& other)
{
  if (Self* o = dynamic_cast<Self*>(&other)) {
    m_Size = o->m_Size;
    m_Capacity = o->m_Capacity;
  }
  return static_cast<Self&>(*this);
}

template <class Base, class Self>
void MvSized<Base, Self>::clear()
{
  m_Size = 0;
  m_Capacity = 0;
}

template class MvSized<MvObject, MvContainer>;
template class MvSized<MvFindable, MvFindableContainer>;

MV_IMPLEMENT_CLASS(MvContainer, MvObject)
MV_IMPLEMENT_CLASS(MvFindableContainer, MvFindable)

bool MvFindableContainer::operator<(const MvFindable&) const
{
  return false;
}

bool MvFindableContainer::operator==(const MvFindable&) const
{
  return false;
}

// ---- MvPtrArray

template <class Base, class P>
MvPtrArray<Base, P>::MvPtrArray(unsigned n) : m_Items(nullptr)
{
  m_Items = newArray<P>(n);
  this->m_Capacity = n;
}

template <class Base, class P>
MvPtrArray<Base, P>::~MvPtrArray()
{
  std::free(m_Items);
}

template <class Base, class P>
void MvPtrArray<Base, P>::copyFrom(const MvPtrArray& o)
{
  P* a = newArray<P>(o.m_Capacity);
  if (o.m_Size)
    std::memcpy(a, o.m_Items, o.m_Size * sizeof(P));
  std::free(m_Items);
  m_Items = a;
  this->m_Size = o.m_Size;
  this->m_Capacity = o.m_Capacity;
}

template <class Base, class P>
void MvPtrArray<Base, P>::clear()
{
  std::free(m_Items);
  m_Items = nullptr;
  Base::clear();
}

template <class Base, class P>
void MvPtrArray<Base, P>::push_back(P p)
{
  grow(this->m_Size + 1);
  m_Items[this->m_Size++] = p;
}

template <class Base, class P>
void MvPtrArray<Base, P>::pop_back()
{
  if (this->m_Size)
    m_Items[--this->m_Size] = nullptr;
}

template <class Base, class P>
P MvPtrArray<Base, P>::at(unsigned i) const
{
  if (i >= this->m_Size)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return m_Items[i];
}

template <class Base, class P>
void MvPtrArray<Base, P>::remove(unsigned i)
{
  uint32_t& size = this->m_Size;
  if (i >= size)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  std::memmove(m_Items + i, m_Items + i + 1, (size - i - 1) * sizeof(P));
  m_Items[--size] = nullptr;
}

// Keeps the old array when the new one cannot be had.
template <class Base, class P>
void MvPtrArray<Base, P>::grow(unsigned n)
{
  if (this->m_Capacity >= n)
    return;
  const uint64_t slots = uint64_t(n) + kSpareSlots;
  if (slots > UINT32_MAX)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  P* a = newArray<P>(slots);
  if (this->m_Size)
    std::memcpy(a, m_Items, this->m_Size * sizeof(P));
  std::free(m_Items);
  m_Items = a;
  this->m_Capacity = static_cast<uint32_t>(slots);
}

template class MvPtrArray<MvContainer, MvObject*>;
template class MvPtrArray<MvFindableContainer, const MvFindable*>;

// ---- MvVector

MV_IMPLEMENT_CLASS(MvVector, MvContainer)

// ---- MvFindableVector

MV_IMPLEMENT_CLASS(MvFindableVector, MvFindableContainer)

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

// ---- MvStack

MV_IMPLEMENT_CLASS(MvStack, MvVector)
