#include "mvobject.h"

#include <cstring>

#include "mvtchar.h"

std::atomic<int32_t> MvRefCounter::m_nTotalRef(0);

namespace {

// This thread's open counting scopes and the sum of its changes meanwhile.
struct CountDeferral
{
  int32_t depth;
  int32_t delta;
};
__thread CountDeferral t_Deferral;

}  // namespace

void MvRefCounter::Count(int32_t n)
{
  CountDeferral& d = t_Deferral;
  if (d.depth != 0)
    d.delta += n;
  else
    m_nTotalRef.fetch_add(n, std::memory_order_relaxed);
}

MvCountScope::MvCountScope()
{
  ++t_Deferral.depth;
}

MvCountScope::~MvCountScope()
{
  CountDeferral& d = t_Deferral;
  if (--d.depth == 0 && d.delta != 0) {
    MvRefCounter::m_nTotalRef.fetch_add(d.delta, std::memory_order_relaxed);
    d.delta = 0;
  }
}

MVFC_Exception::MVFC_Exception(long code) : m_Code(code)
{
  std::memset(m_Text, 0, sizeof m_Text);
}

int32_t MvRefCounter::release()
{
  const int32_t left = --m_nRefCount;
  if (left == 0)
    delete this;
  return left;
}

MvAllocator MvObject::getAllocator() const
{
  return &MvObject::allocate;
}

MvObject& MvObject::assign(const MvObject&)
{
  return *this;
}

bool MvObject::isInstanceOf(const char* name) const
{
  return TCSNCMP(name, "MvObject", 0xFFFFFFFFu) == 0;
}

void MvObject::allocate(MvObject** slot)
{
  MvAllocateInto<MvObject>(slot);
}

MvObject* MvObject::copyOf(const MvObject& o, MvObject** slot)
{
  o.getAllocator()(slot);
  (*slot)->assign(o);
  return *slot;
}

MvAllocator MvFindable::getAllocator() const
{
  return &MvFindable::allocate;
}

bool MvFindable::isInstanceOf(const char* name) const
{
  return TCSNCMP(name, "MvFindable", 0xFFFFFFFFu) == 0 || MvObject::isInstanceOf(name);
}

bool MvFindable::operator<(const MvFindable&) const
{
  return false;
}

bool MvFindable::operator==(const MvFindable&) const
{
  return false;
}

void MvFindable::allocate(MvObject** slot)
{
  MvAllocateInto<MvFindable>(slot);
}

MvObject* MvClone(const MvObject& o)
{
  MvObject* slot = nullptr;
  try {
    MvObject::copyOf(o, &slot);
  } catch (...) {
    delete slot;
    throw;
  }
  return slot;
}
