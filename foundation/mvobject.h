// The object protocol shared by every foundation class: a live-object counter, a reference
// count for shared objects, a run-time class-name test, a per-class allocator used for
// polymorphic copies, virtual assignment, and (for findable classes) virtual ordering.
#ifndef MVOBJECT_H
#define MVOBJECT_H

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <typeinfo>

#include "mvtchar.h"
#include "tbxcodes.h"

// The exception of the foundation classes: a result code (the sign-extended 32-bit value, one
// of TBX_E_OUT_OF_MEMORY, TBX_E_OUT_OF_RANGE, TBX_E_DUPLICATE_KEY) and a text that the library
// always leaves empty.
class MVFC_Exception : public std::exception
{
public:
  enum
  {
    TEXT_SIZE = 536
  };

  explicit MVFC_Exception(long code);
  long code() const { return m_Code; }
  const char* what() const noexcept override { return m_Text; }

  long m_Code;
  char m_Text[TEXT_SIZE];
};

class MvObject;

// The copy assignment of a class of this family: through its virtual assign(), like every other
// assignment here, with the base's assignments from other kinds kept visible.
#define MV_COPY_ASSIGN_THROUGH(Cls, Base)                                                          \
  Cls& operator=(const Cls& o)                                                                     \
  {                                                                                                \
    assign(o);                                                                                     \
    return *this;                                                                                  \
  }                                                                                                \
  using Base::operator=

// Fills a slot with a new default-constructed object of one class, destroying what the slot held.
typedef void (*MvAllocator)(MvObject** slot);

class MvRefCounter
{
public:
  MvRefCounter() : m_nRefCount(0) { Count(1); }
  // A copy is a new object: it starts with no references of its own.
  MvRefCounter(const MvRefCounter&) : m_nRefCount(0) { Count(1); }
  MvRefCounter& operator=(const MvRefCounter&) { return *this; }
  virtual ~MvRefCounter() { Count(-1); }

  // Used only by the reference-holding pointers (MvPtr and its kinds) and by operations that
  // hand out counted references. release() destroys the object when the count drops to 0 and
  // answers the new count.
  int32_t addRef() { return ++m_nRefCount; }
  int32_t release();
  int32_t refCount() const { return m_nRefCount; }

  // Live library objects in the process. Atomic because separate handles run on separate
  // threads; nothing in the library reads it. Exact whenever no thread is inside an exported
  // call (see MvCountScope).
  __attribute__((visibility("default"))) static std::atomic<int32_t> m_nTotalRef;

private:
  // Adds `n` to m_nTotalRef, or to this thread's sum while an MvCountScope is open.
  static void Count(int32_t n);

  int32_t m_nRefCount;
};

// While a scope is open on a thread (the exported functions' guard opens one), that thread's
// changes to MvRefCounter::m_nTotalRef are summed and applied at once when the outermost scope
// closes: two threads counting every string into one shared counter would each wait for the
// other's cache line.
class MvCountScope
{
public:
  MvCountScope();
  ~MvCountScope();
  MvCountScope(const MvCountScope&) = delete;
  MvCountScope& operator=(const MvCountScope&) = delete;
};

class MvObject : public MvRefCounter
{
public:
  MvObject() = default;
  MvObject(const MvObject&) = default;
  ~MvObject() override = default;

  virtual MvAllocator getAllocator() const;
  // Copies `other`'s state into this object; MvObject's own does nothing.
  virtual MvObject& assign(const MvObject& other);
  virtual MvObject& operator=(const MvObject& other) { return assign(other); }
  // True when `name` is the class's own name or that of an ancestor.
  virtual bool isInstanceOf(const char* name) const;

  static void allocate(MvObject** slot);

  // A copy of `o` with `o`'s dynamic class, created through its allocator into `*slot`.
  static MvObject* copyOf(const MvObject& o, MvObject** slot);
};

class MvFindable : public MvObject
{
public:
  MvFindable() = default;
  MvFindable(const MvFindable&) = default;
  MV_COPY_ASSIGN_THROUGH(MvFindable, MvObject);

  MvAllocator getAllocator() const override;
  bool isInstanceOf(const char* name) const override;
  // Containers order and find elements only through these two; MvFindable answers false.
  virtual bool operator<(const MvFindable& o) const;
  virtual bool operator==(const MvFindable& o) const;

  static void allocate(MvObject** slot);
};

// Implements a class's allocate(): replaces the slot's object with a new T.
template <class T>
void MvAllocateInto(MvObject** slot)
{
  if (*slot) {
    delete *slot;
    *slot = nullptr;
  }
  T* p = new (std::nothrow) T();
  if (!p)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  *slot = p;
}

// `o` as a T, or null when it is not one. The exact-class test comes first: it is far cheaper
// than dynamic_cast and covers nearly every comparison the containers make.
template <class T>
const T* MvAs(const MvObject* o)
{
  if (!o)
    return nullptr;
  if (typeid(*o) == typeid(T))
    return static_cast<const T*>(o);
  return dynamic_cast<const T*>(o);
}

// The order of a findable that stands for an object it holds in `held` (a tree node, a map
// item, a key and value pair): against another W the two held objects compare, against any
// other findable the held object compares with it. Without an object it is below nothing and
// equal to nothing. `less` chooses operator< over operator==.
template <class W>
bool MvCompareHeld(const W& self, MvFindable* W::*held, const MvFindable& o, bool less)
{
  const MvFindable* mine = self.*held;
  if (!mine)
    return false;
  const MvFindable* other = &o;
  if (const W* w = MvAs<W>(&o)) {
    other = w->*held;
    if (!other)
      return false;
  }
  return less ? *mine < *other : *mine == *other;
}

// The comparison operators of a wrapper class `Cls` that compares as the object it holds in
// `member`.
#define MV_COMPARE_AS_HELD(Cls, member)                                                            \
  bool operator<(const MvFindable& o) const override                                               \
  {                                                                                                \
    return MvCompareHeld(*this, &Cls::member, o, true);                                            \
  }                                                                                                \
  bool operator==(const MvFindable& o) const override                                              \
  {                                                                                                \
    return MvCompareHeld(*this, &Cls::member, o, false);                                           \
  }

// A new object of `o`'s dynamic class holding a copy of its state; the caller owns it.
MvObject* MvClone(const MvObject& o);
template <class T>
T* MvCloneAs(const T& o)
{
  return static_cast<T*>(MvClone(o));
}

// Declares and implements the class-name test and the allocator of a library class `Cls`
// derived from `Base`; the class name is the identifier itself.
#define MV_DECLARE_CLASS(Cls)                                                                      \
  MvAllocator getAllocator() const override;                                                       \
  bool isInstanceOf(const char* name) const override;                                              \
  static void allocate(MvObject** slot)

#define MV_IMPLEMENT_CLASS(Cls, Base)                                                              \
  MvAllocator Cls::getAllocator() const                                                            \
  {                                                                                                \
    return &Cls::allocate;                                                                         \
  }                                                                                                \
  bool Cls::isInstanceOf(const char* name) const                                                   \
  {                                                                                                \
    return TCSNCMP(name, #Cls, 0xFFFFFFFFu) == 0 || Base::isInstanceOf(name);                      \
  }                                                                                                \
  void Cls::allocate(MvObject** slot)                                                              \
  {                                                                                                \
    MvAllocateInto<Cls>(slot);                                                                     \
  }

#endif
