// Ordered maps on the red-black tree (mvtree.h) that also keep their entries in insertion
// order: iteration follows that order, not the key order.
#ifndef MVMAP_H
#define MVMAP_H

#include <cstdint>

#include "mvobject.h"
#include "mvpair.h"
#include "mvstring.h"
#include "mvtree.h"
#include "mvvector.h"

// An entry's place in the insertion-order list of a map. It does not own its object; the map
// does. Destroying an item unlinks it from its neighbours.
class MvMapItem : public MvFindable
{
public:
  MvMapItem() : m_Prev(nullptr), m_Next(nullptr), m_Object(nullptr) {}
  explicit MvMapItem(MvFindable* object) : m_Prev(nullptr), m_Next(nullptr), m_Object(object) {}
  MvMapItem(const MvMapItem& o)
      : MvFindable(o), m_Prev(o.m_Prev), m_Next(o.m_Next), m_Object(o.m_Object)
  {}
  ~MvMapItem() override;
  MV_COPY_ASSIGN_THROUGH(MvMapItem, MvFindable);
  MV_DECLARE_CLASS(MvMapItem);

  // Another item: takes over its object pointer and links. Any other findable: the item's own
  // object becomes a copy of it (assigned in place when the item has one).
  MvMapItem& assign(const MvObject& o) override;
  virtual MvMapItem& operator=(const MvFindable& o) { return assign(o); }
  MV_COMPARE_AS_HELD(MvMapItem, m_Object);

  MvFindable* object() const { return m_Object; }
  MvMapItem* next() const { return m_Next; }
  MvMapItem* prev() const { return m_Prev; }

private:
  friend class MvItemList;
  friend class MvMap;
  MvMapItem* m_Prev;
  MvMapItem* m_Next;
  MvFindable* m_Object;
};

// The insertion-order list of a map, linked through its items' own pointers.
class MvItemList
{
public:
  MvMapItem* first() const { return m_First; }
  // Appends `item` at the end.
  void link(MvMapItem* item);
  // Takes `item` out; its neighbours close up.
  void unlink(MvMapItem* item);

private:
  MvMapItem* m_First = nullptr;
  MvMapItem* m_Last = nullptr;
};

// Walks a map's entries in insertion order; *it is the entry (an MvKeyValue, MvStrPtr, ...).
class MvMapIterator
{
public:
  MvMapIterator(MvMapItem* item = nullptr) : m_Item(item) {}
  MvFindable& operator*() const { return *m_Item->object(); }
  MvFindable* operator->() const { return m_Item->object(); }
  MvMapIterator& operator++()
  {
    m_Item = m_Item->next();
    return *this;
  }
  MvMapIterator operator++(int)
  {
    MvMapIterator r(*this);
    m_Item = m_Item->next();
    return r;
  }
  bool operator==(const MvMapIterator& o) const { return m_Item == o.m_Item; }
  bool operator!=(const MvMapIterator& o) const { return m_Item != o.m_Item; }
  MvMapItem* item() const { return m_Item; }

private:
  MvMapItem* m_Item;
};

// What both maps share: the insertion-order list of their items, iteration in that order, and
// the clearing and copying that go through it. Not a class of its own to users: no class name.
class MvMapBase : public MvRBTree
{
public:
  typedef MvMapIterator iterator;

  MvMapBase() = default;
  // A copy starts empty; the concrete map copies the entries.
  MvMapBase(const MvMapBase&) : MvRBTree() {}
  MvMapBase& operator=(const MvMapBase&) = delete;
  using MvRBTree::operator=;
  using MvRBTree::clear;

  // Also lets go of the entries of the nodes below `n`.
  void clear(MvTreeNode* n) override;

  // Puts a copy of `x` and answers an iterator at its item.
  virtual iterator insert(const MvFindable& x) { return iterator(static_cast<MvMapItem*>(put(x))); }
  virtual iterator begin() { return iterator(m_Order.first()); }
  virtual iterator end() { return iterator(); }
  iterator begin() const { return iterator(m_Order.first()); }
  iterator end() const { return iterator(); }

protected:
  // Lets go of the entries node `n` holds, before the tree destroys the node.
  virtual void dropEntries(MvTreeNode* n) = 0;
  // Appends a copy of one entry of another map of the same kind.
  virtual void putCopy(const MvFindable& entry) = 0;
  // Replaces this map's entries with copies of `o`'s, in `o`'s insertion order.
  void copyEntries(const MvMapBase& o);

  MvItemList m_Order;
};

// Unique keys; the map owns copies of its entries and iterates them in insertion order.
// Replacing the value of an entry keeps its place.
class MvMap : public MvMapBase
{
public:
  MvMap() = default;
  MvMap(const MvMap& o);
  ~MvMap() override;
  MV_COPY_ASSIGN_THROUGH(MvMap, MvRBTree);
  MV_DECLARE_CLASS(MvMap);

  // Appends a copy of `x` as a new entry and answers its item; TBX_E_DUPLICATE_KEY when the
  // key is present.
  MvMapItem* put(const MvFindable& x) override;
  // Removes the entry whose key equals `k` (its object destroyed); false when none.
  bool remove(const MvFindable& k) override;
  // Copies `other`'s entries in its insertion order (`other` must be an MvMap).
  MvMap& assign(const MvObject& other) override;
  MvMap& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }

  // The entry for `k`; when absent, a copy of `k` is inserted first.
  virtual MvFindable& operator[](const MvFindable& k);

  // The item whose key equals `k`, or null.
  MvMapItem* findItem(const MvFindable& k) const;

protected:
  MvMapItem* putEntry(MvFindable* entry, const void* probe, Order order,
                      const void* hint = nullptr);
  void dropEntries(MvTreeNode* n) override;
  void putCopy(const MvFindable& entry) override { put(entry); }
};

// String keys to string values, kept as MvKeyValue entries. For iteration:
//   for (MvStrMap::iterator it = m.begin(); it != m.end(); ++it)
//     use(MvStrMap::key(it), MvStrMap::value(it));
class MvStrMap : public MvMap
{
public:
  MvStrMap() = default;
  MvStrMap(const MvStrMap& o);
  MV_COPY_ASSIGN_THROUGH(MvStrMap, MvMap);
  MV_DECLARE_CLASS(MvStrMap);

  // The value stored for `key`; a missing key is added first with an empty value, so reading
  // through this operator adds the key. Setting an existing key keeps its place.
  virtual MvString& operator[](const MvString& key);
  MvMapItem* put(const MvFindable& x) override;

  // The value stored for `key`, or null; never adds.
  const MvString* lookup(const MvString& key) const;
  static const MvString& key(iterator it);
  static MvString& value(iterator it);

private:
  // Set while every entry is an MvKeyValue of two MvStrings: lookups then compare the strings
  // directly instead of through the virtual operators.
  bool onlyStrings() const { return m_Foreign == 0; }
  uint32_t m_Foreign = 0;
};

// Several values per key. Each key's values are kept in a group (an MvFindableVector of items,
// in insertion order); the tree stores the groups. size() counts the values.
class MvMultimap : public MvMapBase
{
public:
  MvMultimap() = default;
  MvMultimap(const MvMultimap& o);
  ~MvMultimap() override;
  MV_COPY_ASSIGN_THROUGH(MvMultimap, MvRBTree);
  MV_DECLARE_CLASS(MvMultimap);

  // Appends a copy of `x` to its key's group (a new group when the key has none) and to the
  // insertion order. A whole MvFindableVector puts each of its elements, after checking that
  // its first element's key has no group yet (TBX_E_DUPLICATE_KEY otherwise).
  MvMapItem* put(const MvFindable& x) override;
  // Removes every value of `key`; false when it has none.
  bool remove(const MvFindable& key) override;
  // Removes the `index`-th value of `key`; false when the key has no group or no such value.
  // The key's group leaves the tree with its last value, so a later put starts a fresh one.
  virtual bool remove(const MvFindable& key, long index);
  MvMultimap& assign(const MvObject& other) override;
  MvMultimap& assign(MvObject& other) override
  {
    return assign(static_cast<const MvObject&>(other));
  }

  // The group of `k`; when absent one is added holding `k` with an empty MvString value.
  virtual MvFindableVector& operator[](const MvFindable& k);

  // The group of `key` (items in insertion order), or null.
  const MvFindableVector* group(const MvFindable& key) const;
  unsigned count(const MvFindable& key) const;
  // The `index`-th value of `key`: null when the key has no group, MVFC_Exception
  // (TBX_E_OUT_OF_RANGE) when the group has no such index.
  MvFindable* at(const MvFindable& key, long index) const;

protected:
  MvMapItem* putValue(MvFindable* entry);
  void destroyGroup(MvFindableVector* group);
  void dropEntries(MvTreeNode* n) override;
  void putCopy(const MvFindable& entry) override { putValue(MvCloneAs(entry)); }
};

// Children of an XML element: tag -> shared object.
class MvStrPtrMultimap : public MvMultimap
{
public:
  MvStrPtrMultimap() = default;
  MvStrPtrMultimap(const MvStrPtrMultimap& o) : MvMultimap() { assign(o); }
  MV_COPY_ASSIGN_THROUGH(MvStrPtrMultimap, MvMultimap);
  using MvMultimap::insert;
  using MvMultimap::put;
  MV_DECLARE_CLASS(MvStrPtrMultimap);

  virtual MvMapItem* put(const MvString& key, const MvPtr& p);
  virtual iterator insert(const MvStrPtr& e);

  // The `index`-th entry of `key`, as at().
  MvStrPtr* entry(const MvString& key, long index) const;
};

#endif
