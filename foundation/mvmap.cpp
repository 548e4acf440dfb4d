#include "mvmap.h"

#include <typeinfo>
#include <utility>

namespace {

// The walk from the root to a node. A red-black tree of 2^32 nodes is at most 64 levels high,
// so the fixed depth is never reached by a sound tree; an overflow or an unexpected underflow
// means a broken tree and throws rather than corrupting memory.
class PathStack
{
public:
  void push(MvTreeNode* n)
  {
    if (m_Top == kDepth)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    m_Nodes[m_Top++] = n;
  }
  MvTreeNode* pop()
  {
    if (m_Top == 0)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    return m_Nodes[--m_Top];
  }
  // The node on top, or null when the stack is empty (the parent of the root).
  MvTreeNode* top() const { return m_Top ? m_Nodes[m_Top - 1] : nullptr; }
  bool empty() const { return m_Top == 0; }

private:
  enum { kDepth = 130 };
  MvTreeNode* m_Nodes[kDepth];
  unsigned m_Top = 0;
};

bool isRed(const MvTreeNode* n)
{
  return n && n->isRed();
}

template <class T>
const T* as(const MvObject* o)
{
  return MvAs<T>(o);
}

} // namespace

long ROUND_LOG(long n)
{
  long count = -1;
  do {
    n /= 2;
    ++count;
  } while (n != 0);
  return count;
}

// ---- MvTreeNode

MV_IMPLEMENT_CLASS(MvTreeNode, MvFindable)

MvTreeNode::MvTreeNode(const MvTreeNode& o)
  : MvFindable(o), m_Color(RED), m_Left(nullptr), m_Right(nullptr), m_Object(nullptr)
{
  if (o.m_Object)
    m_Object = MvCloneAs(*o.m_Object);
}

MvTreeNode::~MvTreeNode()
{
  delete m_Object;
}

MvTreeNode& MvTreeNode::assign(const MvObject& o)
{
  const MvTreeNode* n = dynamic_cast<const MvTreeNode*>(&o);
  if (!n || n == this)
    return *this;
  MvFindable* copy = n->m_Object ? MvCloneAs(*n->m_Object) : nullptr;
  delete m_Object;
  m_Object = copy;
  return *this;
}

bool MvTreeNode::operator<(const MvFindable& o) const
{
  if (!m_Object)
    return false;
  if (const MvTreeNode* n = as<MvTreeNode>(&o))
    return n->m_Object && *m_Object < *n->m_Object;
  return *m_Object < o;
}

bool MvTreeNode::operator==(const MvFindable& o) const
{
  if (!m_Object)
    return false;
  if (const MvTreeNode* n = as<MvTreeNode>(&o))
    return n->m_Object && *m_Object == *n->m_Object;
  return *m_Object == o;
}

// ---- MvRBTree

MV_IMPLEMENT_CLASS(MvRBTree, MvContainer)

MvRBTree::MvRBTree(const MvRBTree& o) : MvContainer(), m_Root(nullptr)
{
  assign(o);
}

MvRBTree::~MvRBTree()
{
  MvRBTree::clear(m_Root);
}

int MvRBTree::genericOrder(const void* probe, const MvTreeNode& node)
{
  const MvFindable& x = *static_cast<const MvFindable*>(probe);
  const MvFindable& stored = *node.object();
  if (stored == x)
    return 0;
  return x < stored ? -1 : 1;
}

MvTreeNode* MvRBTree::findNode(const void* probe, Order order) const
{
  MvTreeNode* n = m_Root;
  while (n) {
    const int c = order(probe, *n);
    if (c == 0)
      return n;
    n = c < 0 ? n->m_Left : n->m_Right;
  }
  return nullptr;
}

MvFindable* MvRBTree::find(const MvFindable& x) const
{
  MvTreeNode* n = findNode(&x, &genericOrder);
  return n ? n->m_Object : nullptr;
}

MvFindable* MvRBTree::put(const MvFindable& x)
{
  MvFindable* copy = MvCloneAs(x);
  return putOwned(copy, copy, &genericOrder);
}

MvFindable* MvRBTree::putOwned(MvFindable* owned, const void* probe, Order order,
                               const void* hint)
{
  PathStack path;
  MvTreeNode* node = nullptr;
  int side = 0;
  try {
    for (MvTreeNode* n = m_Root; n;) {
      side = order(probe, *n);
      if (side == 0)
        throw MVFC_Exception(TBX_E_DUPLICATE_KEY);
      path.push(n);
      n = side < 0 ? n->m_Left : n->m_Right;
    }
    node = new (std::nothrow) MvTreeNode(owned);
    if (!node)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    node->m_Hint = hint;
  } catch (...) {
    delete owned;
    throw;
  }

  MvTreeNode* parent = path.top();
  if (!parent)
    m_Root = node;
  else if (side < 0)
    parent->m_Left = node;
  else
    parent->m_Right = node;
  ++m_Size;

  // Climb while the node under repair and its parent are both red. The parent of a red node is
  // never the root (the root is black), so a grandparent is always on the stack.
  MvTreeNode* x = node;
  while (!path.empty()) {
    MvTreeNode* p = path.pop();
    if (!p->isRed())
      break;
    MvTreeNode* g = path.pop();
    const bool leftSide = p == g->m_Left;
    MvTreeNode* uncle = leftSide ? g->m_Right : g->m_Left;
    if (isRed(uncle)) {
      p->m_Color = MvTreeNode::BLACK;
      uncle->m_Color = MvTreeNode::BLACK;
      g->m_Color = MvTreeNode::RED;
      x = g;
      continue;
    }
    if (leftSide) {
      if (x == p->m_Right) { // inner side: rotate it outward first
        p->m_Right = x->m_Left;
        x->m_Left = p;
        g->m_Left = x;
        p = x;
      }
      g->m_Left = p->m_Right;
      p->m_Right = g;
    } else {
      if (x == p->m_Left) {
        p->m_Left = x->m_Right;
        x->m_Right = p;
        g->m_Right = x;
        p = x;
      }
      g->m_Right = p->m_Left;
      p->m_Left = g;
    }
    p->m_Color = MvTreeNode::BLACK;
    g->m_Color = MvTreeNode::RED;
    replaceChild(path.top(), g, p);
    break;
  }
  m_Root->m_Color = MvTreeNode::BLACK;
  return owned;
}

void MvRBTree::replaceChild(MvTreeNode* parent, MvTreeNode* old, MvTreeNode* by)
{
  if (!parent)
    m_Root = by;
  else if (parent->m_Left == old)
    parent->m_Left = by;
  else
    parent->m_Right = by;
}

bool MvRBTree::remove(const MvFindable& x)
{
  MvFindable* object = take(&x, &genericOrder);
  delete object;
  return object != nullptr;
}

MvFindable* MvRBTree::take(const void* probe, Order order)
{
  PathStack path;
  MvTreeNode* z = m_Root;
  while (z) {
    path.push(z);
    const int c = order(probe, *z);
    if (c == 0)
      break;
    z = c < 0 ? z->m_Left : z->m_Right;
  }
  if (!z)
    return nullptr;

  // With two children, the in-order successor's node leaves the tree instead; the two nodes
  // swap objects, so every other stored object keeps its address.
  if (z->m_Left && z->m_Right) {
    MvTreeNode* y = z->m_Right;
    path.push(y);
    while (y->m_Left) {
      y = y->m_Left;
      path.push(y);
    }
    std::swap(z->m_Object, y->m_Object);
    std::swap(z->m_Hint, y->m_Hint);
    z = y;
  }

  path.pop(); // z
  MvTreeNode* x = z->m_Left ? z->m_Left : z->m_Right;
  replaceChild(path.top(), z, x);
  const bool removedBlack = !z->isRed();
  MvFindable* object = z->m_Object;
  z->m_Object = nullptr;
  delete z;
  --m_Size;
  if (!removedBlack)
    return object;

  // x carries an extra black; the stack holds the path from the root to x's parent.
  while (x != m_Root && !isRed(x)) {
    MvTreeNode* p = path.top();
    if (!p)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    if (x == p->m_Left) {
      MvTreeNode* w = p->m_Right;
      if (!w)
        throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
      if (w->isRed()) {
        w->m_Color = MvTreeNode::BLACK;
        p->m_Color = MvTreeNode::RED;
        path.pop();
        p->m_Right = w->m_Left;
        w->m_Left = p;
        replaceChild(path.top(), p, w);
        path.push(w);
        path.push(p);
        w = p->m_Right;
      }
      if (!isRed(w->m_Left) && !isRed(w->m_Right)) {
        w->m_Color = MvTreeNode::RED;
        x = path.pop();
        continue;
      }
      if (!isRed(w->m_Right)) {
        MvTreeNode* l = w->m_Left;
        l->m_Color = MvTreeNode::BLACK;
        w->m_Color = MvTreeNode::RED;
        w->m_Left = l->m_Right;
        l->m_Right = w;
        p->m_Right = l;
        w = l;
      }
      w->m_Color = p->m_Color;
      p->m_Color = MvTreeNode::BLACK;
      w->m_Right->m_Color = MvTreeNode::BLACK;
      path.pop();
      p->m_Right = w->m_Left;
      w->m_Left = p;
      replaceChild(path.top(), p, w);
    } else {
      MvTreeNode* w = p->m_Left;
      if (!w)
        throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
      if (w->isRed()) {
        w->m_Color = MvTreeNode::BLACK;
        p->m_Color = MvTreeNode::RED;
        path.pop();
        p->m_Left = w->m_Right;
        w->m_Right = p;
        replaceChild(path.top(), p, w);
        path.push(w);
        path.push(p);
        w = p->m_Left;
      }
      if (!isRed(w->m_Left) && !isRed(w->m_Right)) {
        w->m_Color = MvTreeNode::RED;
        x = path.pop();
        continue;
      }
      if (!isRed(w->m_Left)) {
        MvTreeNode* r = w->m_Right;
        r->m_Color = MvTreeNode::BLACK;
        w->m_Color = MvTreeNode::RED;
        w->m_Right = r->m_Left;
        r->m_Left = w;
        p->m_Left = r;
        w = r;
      }
      w->m_Color = p->m_Color;
      p->m_Color = MvTreeNode::BLACK;
      w->m_Left->m_Color = MvTreeNode::BLACK;
      path.pop();
      p->m_Left = w->m_Right;
      w->m_Right = p;
      replaceChild(path.top(), p, w);
    }
    x = m_Root;
  }
  if (x)
    x->m_Color = MvTreeNode::BLACK;
  return object;
}

void MvRBTree::clear(MvTreeNode* n)
{
  if (!n)
    return;
  if (n != m_Root) {
    // A subtree: cut it from its parent first. The path to it is found through its object.
    MvTreeNode* parent = nullptr;
    for (MvTreeNode* c = m_Root; c && c != n;) {
      parent = c;
      c = genericOrder(n->m_Object, *c) < 0 ? c->m_Left : c->m_Right;
    }
    if (!parent || (parent->m_Left != n && parent->m_Right != n))
      return; // not a node of this tree
    replaceChild(parent, n, nullptr);
  } else {
    m_Root = nullptr;
  }
  // Destroys without a stack: rotate left children up until a node has none, then drop it.
  uint32_t dropped = 0;
  while (n) {
    if (MvTreeNode* l = n->m_Left) {
      n->m_Left = l->m_Right;
      l->m_Right = n;
      n = l;
    } else {
      MvTreeNode* r = n->m_Right;
      delete n;
      ++dropped;
      n = r;
    }
  }
  m_Size = m_Root ? m_Size - dropped : 0;
}

void MvRBTree::walk(MvTreeNode* n, void (*fn)(MvTreeNode*, void*), void* ctx) const
{
  PathStack path;
  while (n || !path.empty()) {
    while (n) {
      path.push(n);
      n = n->m_Left;
    }
    n = path.pop();
    fn(n, ctx);
    n = n->m_Right;
  }
}

MvRBTree& MvRBTree::assign(const MvObject& other)
{
  const MvRBTree* o = dynamic_cast<const MvRBTree*>(&other);
  if (!o || o == this)
    return *this;
  clear();
  struct Copy
  {
    static void each(MvTreeNode* n, void* self) { static_cast<MvRBTree*>(self)->put(*n->object()); }
  };
  o->walk(o->m_Root, &Copy::each, this);
  return *this;
}

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
  if (const MvMapItem* item = as<MvMapItem>(&o)) {
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

bool MvMapItem::operator<(const MvFindable& o) const
{
  if (!m_Object)
    return false;
  if (const MvMapItem* item = as<MvMapItem>(&o))
    return item->m_Object && *m_Object < *item->m_Object;
  return *m_Object < o;
}

bool MvMapItem::operator==(const MvFindable& o) const
{
  if (!m_Object)
    return false;
  if (const MvMapItem* item = as<MvMapItem>(&o))
    return item->m_Object && *m_Object == *item->m_Object;
  return *m_Object == o;
}

// ---- MvMap

MV_IMPLEMENT_CLASS(MvMap, MvRBTree)

MvMap::MvMap(const MvMap& o) : MvRBTree(), m_First(nullptr), m_Last(nullptr)
{
  assign(o);
}

MvMap::~MvMap()
{
  clear();
}

void MvMap::link(MvMapItem* item)
{
  item->m_Prev = m_Last;
  item->m_Next = nullptr;
  if (m_Last)
    m_Last->m_Next = item;
  else
    m_First = item;
  m_Last = item;
}

void MvMap::unlink(MvMapItem* item)
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
    delete entry; // the item itself went with the failed put
    throw;
  }
  link(item);
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
  unlink(item);
  delete item->object();
  delete item;
  return true;
}

void MvMap::dropEntry(MvTreeNode* n, void* ctx)
{
  MvMapItem* item = static_cast<MvMapItem*>(n->object());
  static_cast<MvMap*>(ctx)->unlink(item);
  delete item->object();
  item->m_Object = nullptr;
}

void MvMap::clear(MvTreeNode* n)
{
  if (!n)
    return;
  walk(n, &dropEntry, this);
  MvRBTree::clear(n);
}

MvMap& MvMap::assign(const MvObject& other)
{
  const MvMap* o = dynamic_cast<const MvMap*>(&other);
  if (!o || o == this)
    return *this;
  clear();
  for (MvMapItem* i = o->m_First; i; i = i->next())
    put(*i->object());
  return *this;
}

MvFindable& MvMap::operator[](const MvFindable& k)
{
  MvMapItem* item = findItem(k);
  if (!item)
    item = put(k);
  return *item->object();
}

MvMap::iterator MvMap::insert(const MvFindable& x)
{
  return iterator(put(x));
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
  const MvKeyValue* kv = as<MvKeyValue>(&x);
  if (!kv)
    return false;
  // Bound first: clang refuses a function call inside typeid under -Werror.
  const MvFindable& key = kv->first();
  const MvObject& value = kv->second();
  return typeid(key) == typeid(MvString) && typeid(value) == typeid(MvString);
}

} // namespace

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
  const MvKeyValue* kv = as<MvKeyValue>(it.item()->object());
  const MvString* k = kv ? as<MvString>(&kv->first()) : nullptr;
  if (!k)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return *k;
}

MvString& MvStrMap::value(iterator it)
{
  MvKeyValue* kv = const_cast<MvKeyValue*>(as<MvKeyValue>(it.item()->object()));
  MvString* v = kv ? const_cast<MvString*>(as<MvString>(&kv->second())) : nullptr;
  if (!v)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  return *v;
}

// ---- MvMultimap

MV_IMPLEMENT_CLASS(MvMultimap, MvRBTree)

namespace {

// Initial capacity of a key's group.
const unsigned kGroupCapacity = 5;

} // namespace

MvMultimap::MvMultimap(const MvMultimap& o) : MvRBTree(), m_First(nullptr), m_Last(nullptr)
{
  assign(o);
}

MvMultimap::~MvMultimap()
{
  clear();
}

void MvMultimap::link(MvMapItem* item)
{
  item->m_Prev = m_Last;
  item->m_Next = nullptr;
  if (m_Last)
    m_Last->m_Next = item;
  else
    m_First = item;
  m_Last = item;
}

void MvMultimap::unlink(MvMapItem* item)
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
      ++m_Size; // the tree counted the group's first value only
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
  link(item);
  return item;
}

MvMapItem* MvMultimap::put(const MvFindable& x)
{
  const MvFindableVector* v = as<MvFindableVector>(&x);
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
    unlink(item);
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
  m_Size -= group->size() - 1; // take() counted one
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
  MvMapItem* item =
    const_cast<MvMapItem*>(static_cast<const MvMapItem*>(group->at(static_cast<unsigned>(index))));
  group->remove(static_cast<unsigned>(index));
  --m_Size;
  unlink(item);
  delete item->object();
  delete item;
  return true;
}

void MvMultimap::dropGroup(MvTreeNode* n, void* ctx)
{
  static_cast<MvMultimap*>(ctx)->destroyGroup(static_cast<MvFindableVector*>(n->object()));
}

void MvMultimap::clear(MvTreeNode* n)
{
  if (!n)
    return;
  walk(n, &dropGroup, this);
  MvRBTree::clear(n);
}

MvMultimap& MvMultimap::assign(const MvObject& other)
{
  const MvMultimap* o = dynamic_cast<const MvMultimap*>(&other);
  if (!o || o == this)
    return *this;
  clear();
  for (MvMapItem* i = o->m_First; i; i = i->next())
    putValue(MvCloneAs(*i->object()));
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

MvMultimap::iterator MvMultimap::insert(const MvFindable& x)
{
  return iterator(put(x));
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
  return const_cast<MvStrPtr*>(as<MvStrPtr>(at(key, index)));
}
