#include "mvmap.h"

#include <typeinfo>

// ---- MvMapItem

MV_IMPLEMENT_CLASS(MvMapItem, MvFindable)

MvMapItem::~MvMapItem()
{
  if (m_Prev)
    m_Prev->m_Next = m_Next;
  if (m_Next)
    m_Next->m_Prev = m_Prev;
}

MvMapItem& MvMapItem::assign(const MvObject& o)
{
  if (&o == this)
    return *this;
  if (const MvMapItem* item = MvAs<MvMapItem>(&o)) {
    m_Object = item->m_Object;
    m_Prev = item->m_Prev;
    m_Next = item->m_Next;
    return *this;
  }
  const MvFindable* f = dynamic_cast<const MvFindable*>(&o);
  if (!f)
    return *this;
  if (m_Object)
    m_Object->assign(*f);
  else
    m_Object = MvCloneAs(*f);
  return *this;
}

// ---- MvItemList

void MvItemList::link(MvMapItem* item)
{
  item->m_Prev = m_Last;
  item->m_Next = nullptr;
  if (m_Last)
    m_Last->m_Next = item;
  else
    m_First = item;
  m_Last = item;
}

void MvItemList::unlink(MvMapItem* item)
{
  if (m_First == item)
    m_First = item->m_Next;
  if (m_Last == item)
    m_Last = item->m_Prev;
  if (item->m_Prev)
    item->m_Prev->m_Next = item->m_Next;
  if (item->m_Next)
    item->m_Next->m_Prev = item->m_Prev;
  item->m_Prev = item->m_Next = nullptr;
}

// ---- MvMapBase

void MvMapBase::clear(MvTreeNode* n)
{
  if (!n)
    return;
  struct Drop
  {
    static void each(MvTreeNode* node, void* self)
    {
      static_cast<MvMapBase*>(self)->dropEntries(node);
    }
  };
  walk(n, &Drop::each, this);
  MvRBTree::clear(n);
}

void MvMapBase::copyEntries(const MvMapBase& o)
{
  if (&o == this)
    return;
  clear();
  for (MvMapItem* i = o.m_Order.first(); i; i = i->next())
    putCopy(*i->object());
}

// ---- MvMap

MV_IMPLEMENT_CLASS(MvMap, MvRBTree)

MvMap::MvMap(const MvMap& o) : MvMapBase()
{
  assign(o);
}

MvMap::~MvMap()
{
  clear();
}

MvMapItem* MvMap::putEntry(MvFindable* entry, const void* probe, Order order, const void* hint)
{
  MvMapItem* item = new (std::nothrow) MvMapItem(entry);
  if (!item) {
    delete entry;
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  }
  try {
    putOwned(item, probe ? probe : item, order, hint);
  } catch (...) {
    delete entry;  // the item itself went with the failed put
    throw;
  }
  m_Order.link(item);
  return item;
}

MvMapItem* MvMap::put(const MvFindable& x)
{
  return putEntry(MvCloneAs(x), nullptr, &genericOrder);
}

MvMapItem* MvMap::findItem(const MvFindable& k) const
{
  MvTreeNode* n = findNode(&k, &genericOrder);
  return n ? static_cast<MvMapItem*>(n->object()) : nullptr;
}

bool MvMap::remove(const MvFindable& k)
{
  MvMapItem* item = static_cast<MvMapItem*>(take(&k, &genericOrder));
  if (!item)
    return false;
  m_Order.unlink(item);
  delete item->object();
  delete item;
  return true;
}

void MvMap::dropEntries(MvTreeNode* n)
{
  MvMapItem* item = static_cast<MvMapItem*>(n->object());
  m_Order.unlink(item);
  delete item->object();
  item->m_Object = nullptr;
}

MvMap& MvMap::assign(const MvObject& other)
{
  if (const MvMap* o = dynamic_cast<const MvMap*>(&other))
    copyEntries(*o);
  return *this;
}

MvFindable& MvMap::operator[](const MvFindable& k)
{
  MvMapItem* item = findItem(k);
  if (!item)
    item = put(k);
  return *item->object();
}

// ---- MvStrMap

MV_IMPLEMENT_CLASS(MvStrMap, MvMap)

namespace {

// While the map holds only string pairs every node's hint is its key string.
int stringOrder(const void* probe, const MvTreeNode& stored)
{
  return static_cast<const MvString*>(probe)->compare(*static_cast<const MvString*>(stored.hint()));
}

const MvString& keyString(const MvKeyValue& kv)
{
  return static_cast<const MvString&>(kv.first());
}

bool isStringPair(const MvFindable& x)
{
  const MvKeyValue* kv = MvAs<MvKeyValue>(&x);
  if (!kv)
    return false;
  // Bound first: clang refuses a function call inside typeid under -Werror.
  const MvFindable& key = kv->first();
  const MvObject& value = kv->second();
  return typeid(key) == typeid(MvString) && typeid(value) == typeid(MvString);
}

}  // namespace

MvStrMap::MvStrMap(const MvStrMap& o) : MvMap()
{
  assign(o);
}

MvMapItem* MvStrMap::put(const MvFindable& x)
{
  if (m_Size == 0)
    m_Foreign = 0;
  if (!isStringPair(x)) {
    MvMapItem* item = MvMap::put(x);
    ++m_Foreign;
    return item;
  }
  const MvKeyValue& kv = static_cast<const MvKeyValue&>(x);
  if (!onlyStrings())
    return MvMap::put(x);
  MvKeyValue* entry = MvCloneAs(kv);
  return putEntry(entry, &keyString(kv), &stringOrder, &keyString(*entry));
}

MvString& MvStrMap::operator[](const MvString& key)
{
  MvMapItem* item;
  if (onlyStrings()) {
    MvTreeNode* n = findNode(&key, &stringOrder);
    if (n) {
      item = static_cast<MvMapItem*>(n->object());
    } else {
      MvKeyValue* entry = new (std::nothrow) MvKeyValue(key, MvString());
      if (!entry)
        throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
      item = putEntry(entry, &key, &stringOrder, &keyString(*entry));
    }
  } else {
    item = findItem(key);
    if (!item)
      item = put(MvKeyValue(key, MvString()));
  }
  return value(iterator(item));
}

const MvString* MvStrMap::lookup(const MvString& key) const
{
  MvMapItem* item;
  if (onlyStrings()) {
    MvTreeNode* n = findNode(&key, &stringOrder);
    item = n ? static_cast<MvMapItem*>(n->object()) : nullptr;
  } else {
    item = findItem(key);
  }
  if (!item)
    return nullptr;
  return &value(iterator(item));
}

const MvString& MvStrMap::key(iterator it)
{
  const MvKeyValue* kv = MvAs<MvKeyValue>(it.item()->object());
  const MvString* k = kv ? MvAs<MvString>(&kv->first()) : nullptr;
  if (!k)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return *k;
}

MvString& MvStrMap::value(iterator it)
{
  MvKeyValue* kv = const_cast<MvKeyValue*>(MvAs<MvKeyValue>(it.item()->object()));
  MvString* v = kv ? const_cast<MvString*>(MvAs<MvString>(&kv->second())) : nullptr;
  if (!v)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return *v;
}

// ---- MvMultimap

MV_IMPLEMENT_CLASS(MvMultimap, MvRBTree)

namespace {

// Initial capacity of a key's group.
const unsigned kGroupCapacity = 5;

}  // namespace

MvMultimap::MvMultimap(const MvMultimap& o) : MvMapBase()
{
  assign(o);
}

MvMultimap::~MvMultimap()
{
  clear();
}

MvMapItem* MvMultimap::putValue(MvFindable* entry)
{
  MvMapItem* item = new (std::nothrow) MvMapItem(entry);
  MvFindableVector* fresh = nullptr;
  try {
    if (!item)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    fresh = new (std::nothrow) MvFindableVector(kGroupCapacity);
    if (!fresh)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    fresh->push_back(item);
    if (MvTreeNode* n = findNode(fresh, &genericOrder)) {
      MvFindableVector* group = static_cast<MvFindableVector*>(n->object());
      group->push_back(item);
      delete fresh;
      ++m_Size;  // the tree counted the group's first value only
    } else {
      MvFindableVector* owned = fresh;
      fresh = nullptr;
      putOwned(owned, owned, &genericOrder);
    }
  } catch (...) {
    delete fresh;
    delete item;
    delete entry;
    throw;
  }
  m_Order.link(item);
  return item;
}

MvMapItem* MvMultimap::put(const MvFindable& x)
{
  const MvFindableVector* v = MvAs<MvFindableVector>(&x);
  if (!v)
    return putValue(MvCloneAs(x));
  if (v->size() == 0)
    return nullptr;
  if (findNode(v->at(0), &genericOrder))
    throw MVFC_Exception(TBX_E_DUPLICATE_KEY);
  MvMapItem* first = nullptr;
  for (unsigned i = 0; i < v->size(); ++i) {
    MvMapItem* item = putValue(MvCloneAs(*v->at(i)));
    if (!first)
      first = item;
  }
  return first;
}

void MvMultimap::destroyGroup(MvFindableVector* group)
{
  for (unsigned i = 0; i < group->size(); ++i) {
    MvMapItem* item = const_cast<MvMapItem*>(static_cast<const MvMapItem*>(group->at(i)));
    m_Order.unlink(item);
    delete item->object();
    delete item;
  }
  group->clear();
}

bool MvMultimap::remove(const MvFindable& key)
{
  MvFindableVector* group = static_cast<MvFindableVector*>(take(&key, &genericOrder));
  if (!group)
    return false;
  m_Size -= group->size() - 1;  // take() counted one
  destroyGroup(group);
  delete group;
  return true;
}

bool MvMultimap::remove(const MvFindable& key, long index)
{
  MvTreeNode* n = findNode(&key, &genericOrder);
  if (!n)
    return false;
  MvFindableVector* group = static_cast<MvFindableVector*>(n->object());
  if (index < 0 || static_cast<unsigned long>(index) >= group->size())
    return false;
  if (group->size() == 1)
    return remove(key);
  MvMapItem* item = const_cast<MvMapItem*>(
      static_cast<const MvMapItem*>(group->at(static_cast<unsigned>(index))));
  group->remove(static_cast<unsigned>(index));
  --m_Size;
  m_Order.unlink(item);
  delete item->object();
  delete item;
  return true;
}

void MvMultimap::dropEntries(MvTreeNode* n)
{
  destroyGroup(static_cast<MvFindableVector*>(n->object()));
}

MvMultimap& MvMultimap::assign(const MvObject& other)
{
  if (const MvMultimap* o = dynamic_cast<const MvMultimap*>(&other))
    copyEntries(*o);
  return *this;
}

MvFindableVector& MvMultimap::operator[](const MvFindable& k)
{
  MvTreeNode* n = findNode(&k, &genericOrder);
  if (!n) {
    put(MvKeyValue(k, MvString()));
    n = findNode(&k, &genericOrder);
  }
  return *static_cast<MvFindableVector*>(n->object());
}

const MvFindableVector* MvMultimap::group(const MvFindable& key) const
{
  MvTreeNode* n = findNode(&key, &genericOrder);
  return n ? static_cast<const MvFindableVector*>(n->object()) : nullptr;
}

unsigned MvMultimap::count(const MvFindable& key) const
{
  const MvFindableVector* g = group(key);
  return g ? g->size() : 0;
}

MvFindable* MvMultimap::at(const MvFindable& key, long index) const
{
  const MvFindableVector* g = group(key);
  if (!g)
    return nullptr;
  if (index < 0 || static_cast<unsigned long>(index) >= g->size())
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return static_cast<const MvMapItem*>(g->at(static_cast<unsigned>(index)))->object();
}

// ---- MvStrPtrMultimap

MV_IMPLEMENT_CLASS(MvStrPtrMultimap, MvMultimap)

MvMapItem* MvStrPtrMultimap::put(const MvString& key, const MvPtr& p)
{
  return MvMultimap::put(MvStrPtr(key, p));
}

MvStrPtrMultimap::iterator MvStrPtrMultimap::insert(const MvStrPtr& e)
{
  return iterator(MvMultimap::put(e));
}

MvStrPtr* MvStrPtrMultimap::entry(const MvString& key, long index) const
{
  return const_cast<MvStrPtr*>(MvAs<MvStrPtr>(at(key, index)));
}
