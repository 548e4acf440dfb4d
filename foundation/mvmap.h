// Ordered containers: a red-black tree of findable objects, and maps on top of it that also
// keep their entries in insertion order (iteration follows that order, not the key order).
#ifndef MVMAP_H
#define MVMAP_H

#include <cstdint>

#include "mvobject.h"
#include "mvpair.h"
#include "mvstring.h"
#include "mvvector.h"

// floor(log2(n)) for n > 0; 0 for 0 (n halved toward zero until it is 0).
long ROUND_LOG(long n);

// A node of MvRBTree. It owns its object, the tree's copy of a key. New nodes are red.
class MvTreeNode : public MvFindable
{
public:
  enum { BLACK = 0, RED = 1 };

  MvTreeNode() : m_Color(RED), m_Left(nullptr), m_Right(nullptr), m_Object(nullptr) {}
  explicit MvTreeNode(MvFindable* owned)
    : m_Color(RED), m_Left(nullptr), m_Right(nullptr), m_Object(owned)
  {
  }
  // A new unlinked node holding a copy of `o`'s object.
  MvTreeNode(const MvTreeNode& o);
  MvTreeNode& operator=(const MvTreeNode& o) { assign(o); return *this; }
  ~MvTreeNode() override;
  using MvFindable::operator=;
  MV_DECLARE_CLASS(MvTreeNode);

  // Another node: this node's object is replaced by a copy of that node's object.
  MvTreeNode& assign(const MvObject& o) override;
  // Compare the objects (another node's object, or any findable itself).
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;

  bool isRed() const { return m_Color == RED; }
  MvTreeNode* left() const { return m_Left; }
  MvTreeNode* right() const { return m_Right; }
  MvFindable* object() const { return m_Object; }
  // What the owning container cached about the object to compare it without indirections
  // (the string map keeps the key string here); null when nothing is cached.
  const void* hint() const { return m_Hint; }

private:
  friend class MvRBTree;
  uint8_t m_Color;
  MvTreeNode* m_Left;
  MvTreeNode* m_Right;
  MvFindable* m_Object;
  const void* m_Hint = nullptr;
};

// A red-black tree of owned copies of findable objects, without parent pointers: insertion and
// removal record their walk from the root on an explicit path stack. Missing children are null.
// Objects are compared only through the virtual operators: `stored == probe` is a match,
// `probe < stored` goes left.
class MvRBTree : public MvContainer
{
public:
  MvRBTree() : m_Root(nullptr) {}
  // Holds copies of `o`'s objects.
  MvRBTree(const MvRBTree& o);
  MvRBTree& operator=(const MvRBTree& o) { assign(o); return *this; }
  ~MvRBTree() override;
  using MvContainer::operator=;
  MV_DECLARE_CLASS(MvRBTree);

  // Stores a copy of `x` (with `x`'s dynamic class) and answers it. An equal object already
  // stored: MVFC_Exception(TBX_E_DUPLICATE_KEY), the tree unchanged.
  virtual MvFindable* put(const MvFindable& x);
  // Destroys the node holding the object equal to `x`, and that object; false when none.
  // Other stored objects stay where they are (pointers to them remain valid).
  virtual bool remove(const MvFindable& x);
  // Destroys the subtree at `n` with its objects (the whole tree when `n` is the root).
  virtual void clear(MvTreeNode* n);
  // The stored object equal to `x`, or null.
  virtual MvFindable* find(const MvFindable& x) const;

  void clear() override { clear(m_Root); }
  // `other` must be a tree: afterwards this tree holds copies of its objects.
  MvRBTree& assign(const MvObject& other) override;
  MvRBTree& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }

  MvTreeNode* root() const { return m_Root; }

protected:
  // Three-way order of a probe against a stored node: < 0 left, 0 match, > 0 right.
  typedef int (*Order)(const void* probe, const MvTreeNode& stored);
  static int genericOrder(const void* probe, const MvTreeNode& stored);

  MvTreeNode* findNode(const void* probe, Order order) const;
  // Stores `owned`, which the tree then owns, in a node with the given hint; on a duplicate or
  // a failure destroys it and throws.
  MvFindable* putOwned(MvFindable* owned, const void* probe, Order order,
                       const void* hint = nullptr);
  // Unlinks the node matching `probe` and hands its object to the caller; null when none.
  MvFindable* take(const void* probe, Order order);
  // Calls `fn` on every node of the subtree at `n`, in key order.
  void walk(MvTreeNode* n, void (*fn)(MvTreeNode*, void*), void* ctx) const;

  MvTreeNode* m_Root;

private:
  // Puts `by` where `parent` (null: the root slot) held `old`.
  void replaceChild(MvTreeNode* parent, MvTreeNode* old, MvTreeNode* by);
};

// An entry's place in the insertion-order list of a map. It does not own its object; the map
// does. Destroying an item unlinks it from its neighbours.
class MvMapItem : public MvFindable
{
public:
  MvMapItem() : m_Prev(nullptr), m_Next(nullptr), m_Object(nullptr) {}
  explicit MvMapItem(MvFindable* object) : m_Prev(nullptr), m_Next(nullptr), m_Object(object) {}
  MvMapItem(const MvMapItem& o) : MvFindable(o), m_Prev(o.m_Prev), m_Next(o.m_Next), m_Object(o.m_Object) {}
  MvMapItem& operator=(const MvMapItem& o) { assign(o); return *this; }
  ~MvMapItem() override;
  using MvFindable::operator=;
  MV_DECLARE_CLASS(MvMapItem);

  // Another item: takes over its object pointer and links. Any other findable: the item's own
  // object becomes a copy of it (assigned in place when the item has one).
  MvMapItem& assign(const MvObject& o) override;
  virtual MvMapItem& operator=(const MvFindable& o) { return assign(o); }
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;

  MvFindable* object() const { return m_Object; }
  MvMapItem* next() const { return m_Next; }
  MvMapItem* prev() const { return m_Prev; }

private:
  friend class MvMap;
  friend class MvMultimap;
  MvMapItem* m_Prev;
  MvMapItem* m_Next;
  MvFindable* m_Object;
};

// Walks a map's entries in insertion order; *it is the entry (an MvKeyValue, MvStrPtr, ...).
class MvMapIterator
{
public:
  MvMapIterator(MvMapItem* item = nullptr) : m_Item(item) {}
  MvFindable& operator*() const { return *m_Item->object(); }
  MvFindable* operator->() const { return m_Item->object(); }
  MvMapIterator& operator++() { m_Item = m_Item->next(); return *this; }
  MvMapIterator operator++(int) { MvMapIterator r(*this); m_Item = m_Item->next(); return r; }
  bool operator==(const MvMapIterator& o) const { return m_Item == o.m_Item; }
  bool operator!=(const MvMapIterator& o) const { return m_Item != o.m_Item; }
  MvMapItem* item() const { return m_Item; }

private:
  MvMapItem* m_Item;
};

// Unique keys; the map owns copies of its entries and iterates them in insertion order.
// Replacing the value of an entry keeps its place.
class MvMap : public MvRBTree
{
public:
  typedef MvMapIterator iterator;

  MvMap() : m_First(nullptr), m_Last(nullptr) {}
  MvMap(const MvMap& o);
  MvMap& operator=(const MvMap& o) { assign(o); return *this; }
  ~MvMap() override;
  using MvRBTree::operator=;
  using MvRBTree::clear;
  MV_DECLARE_CLASS(MvMap);

  // Appends a copy of `x` as a new entry and answers its item; TBX_E_DUPLICATE_KEY when the
  // key is present.
  MvMapItem* put(const MvFindable& x) override;
  // Removes the entry whose key equals `k` (its object destroyed); false when none.
  bool remove(const MvFindable& k) override;
  void clear(MvTreeNode* n) override;
  // Copies `other`'s entries in its insertion order (`other` must be an MvMap).
  MvMap& assign(const MvObject& other) override;
  MvMap& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }

  // The entry for `k`; when absent, a copy of `k` is inserted first.
  virtual MvFindable& operator[](const MvFindable& k);
  virtual iterator insert(const MvFindable& x);
  virtual iterator begin() { return iterator(m_First); }
  virtual iterator end() { return iterator(); }
  iterator begin() const { return iterator(m_First); }
  iterator end() const { return iterator(); }

  // The item whose key equals `k`, or null.
  MvMapItem* findItem(const MvFindable& k) const;

protected:
  MvMapItem* putEntry(MvFindable* entry, const void* probe, Order order,
                      const void* hint = nullptr);
  void link(MvMapItem* item);
  void unlink(MvMapItem* item);

  MvMapItem* m_First;
  MvMapItem* m_Last;

private:
  static void dropEntry(MvTreeNode* n, void* ctx);
};

// String keys to string values, kept as MvKeyValue entries. For iteration:
//   for (MvStrMap::iterator it = m.begin(); it != m.end(); ++it)
//     use(MvStrMap::key(it), MvStrMap::value(it));
class MvStrMap : public MvMap
{
public:
  MvStrMap() = default;
  MvStrMap(const MvStrMap& o);
  MvStrMap& operator=(const MvStrMap& o) { assign(o); return *this; }
  using MvMap::operator=;
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
class MvMultimap : public MvRBTree
{
public:
  typedef MvMapIterator iterator;

  MvMultimap() : m_First(nullptr), m_Last(nullptr) {}
  MvMultimap(const MvMultimap& o);
  MvMultimap& operator=(const MvMultimap& o) { assign(o); return *this; }
  ~MvMultimap() override;
  using MvRBTree::operator=;
  using MvRBTree::clear;
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
  void clear(MvTreeNode* n) override;
  MvMultimap& assign(const MvObject& other) override;
  MvMultimap& assign(MvObject& other) override { return assign(static_cast<const MvObject&>(other)); }

  // The group of `k`; when absent one is added holding `k` with an empty MvString value.
  virtual MvFindableVector& operator[](const MvFindable& k);
  virtual iterator insert(const MvFindable& x);
  virtual iterator begin() { return iterator(m_First); }
  virtual iterator end() { return iterator(); }
  iterator begin() const { return iterator(m_First); }
  iterator end() const { return iterator(); }

  // The group of `key` (items in insertion order), or null.
  const MvFindableVector* group(const MvFindable& key) const;
  unsigned count(const MvFindable& key) const;
  // The `index`-th value of `key`: null when the key has no group, MVFC_Exception
  // (TBX_E_OUT_OF_RANGE) when the group has no such index.
  MvFindable* at(const MvFindable& key, long index) const;

protected:
  MvMapItem* putValue(MvFindable* entry);
  void link(MvMapItem* item);
  void unlink(MvMapItem* item);
  void destroyGroup(MvFindableVector* group);

  MvMapItem* m_First;
  MvMapItem* m_Last;

private:
  static void dropGroup(MvTreeNode* n, void* ctx);
};

// Children of an XML element: tag -> shared object.
class MvStrPtrMultimap : public MvMultimap
{
public:
  MvStrPtrMultimap() = default;
  MvStrPtrMultimap(const MvStrPtrMultimap& o) : MvMultimap() { assign(o); }
  MvStrPtrMultimap& operator=(const MvStrPtrMultimap& o) { assign(o); return *this; }
  using MvMultimap::operator=;
  using MvMultimap::put;
  using MvMultimap::insert;
  MV_DECLARE_CLASS(MvStrPtrMultimap);

  virtual MvMapItem* put(const MvString& key, const MvPtr& p);
  virtual iterator insert(const MvStrPtr& e);

  // The `index`-th entry of `key`, as at().
  MvStrPtr* entry(const MvString& key, long index) const;
};

#endif
