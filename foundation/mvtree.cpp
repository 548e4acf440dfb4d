#include "mvtree.h"

#include <utility>

// The walk from the root to a node. A red-black tree of 2^32 nodes is at most 64 levels high,
// so the fixed depth is never reached by a sound tree; an overflow or an unexpected underflow
// means a broken tree and throws rather than corrupting memory.
class MvRBTree::PathStack
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
  enum
  {
    kDepth = 130
  };
  MvTreeNode* m_Nodes[kDepth];
  unsigned m_Top = 0;
};

namespace {

bool isRed(const MvTreeNode* n)
{
  return n && n->isRed();
}

}  // namespace

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

MvFindable* MvRBTree::putOwned(MvFindable* owned, const void* probe, Order order, const void* hint)
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

  restoreBalance(path, node);
  return owned;
}

MvTreeNode* MvRBTree::rotate(MvTreeNode* n, Side near, Side far)
{
  MvTreeNode* c = n->*far;
  n->*far = c->*near;
  c->*near = n;
  return c;
}

void MvRBTree::restoreBalance(PathStack& path, MvTreeNode* x)
{
  // Climb while the node under repair and its parent are both red. The parent of a red node is
  // never the root (the root is black), so a grandparent is always on the stack.
  while (!path.empty()) {
    MvTreeNode* p = path.pop();
    if (!p->isRed())
      break;
    MvTreeNode* g = path.pop();
    // `near`: the side of g on which p hangs.
    const Side near = p == g->m_Left ? &MvTreeNode::m_Left : &MvTreeNode::m_Right;
    const Side far = near == &MvTreeNode::m_Left ? &MvTreeNode::m_Right : &MvTreeNode::m_Left;
    MvTreeNode* uncle = g->*far;
    if (isRed(uncle)) {
      p->m_Color = MvTreeNode::BLACK;
      uncle->m_Color = MvTreeNode::BLACK;
      g->m_Color = MvTreeNode::RED;
      x = g;
      continue;
    }
    if (x == p->*far) {  // inner side: rotate it outward first
      g->*near = rotate(p, near, far);
      p = x;
    }
    rotate(g, far, near);
    p->m_Color = MvTreeNode::BLACK;
    g->m_Color = MvTreeNode::RED;
    replaceChild(path.top(), g, p);
    break;
  }
  m_Root->m_Color = MvTreeNode::BLACK;
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

  path.pop();  // z
  MvTreeNode* x = z->m_Left ? z->m_Left : z->m_Right;
  replaceChild(path.top(), z, x);
  const bool removedBlack = !z->isRed();
  MvFindable* object = z->m_Object;
  z->m_Object = nullptr;
  delete z;
  --m_Size;
  if (!removedBlack)
    return object;

  fixup(path, x);
  return object;
}

void MvRBTree::fixup(PathStack& path, MvTreeNode* x)
{
  // x carries an extra black; the stack holds the path from the root to x's parent.
  while (x != m_Root && !isRed(x)) {
    MvTreeNode* p = path.top();
    if (!p)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    // `near`: x's side of p; its sibling w hangs on the `far` side.
    const Side near = x == p->m_Left ? &MvTreeNode::m_Left : &MvTreeNode::m_Right;
    const Side far = near == &MvTreeNode::m_Left ? &MvTreeNode::m_Right : &MvTreeNode::m_Left;
    MvTreeNode* w = p->*far;
    if (!w)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    if (w->isRed()) {
      w->m_Color = MvTreeNode::BLACK;
      p->m_Color = MvTreeNode::RED;
      path.pop();
      replaceChild(path.top(), p, rotate(p, near, far));
      path.push(w);
      path.push(p);
      w = p->*far;
    }
    if (!isRed(w->m_Left) && !isRed(w->m_Right)) {
      w->m_Color = MvTreeNode::RED;
      x = path.pop();
      continue;
    }
    if (!isRed(w->*far)) {
      MvTreeNode* c = w->*near;
      c->m_Color = MvTreeNode::BLACK;
      w->m_Color = MvTreeNode::RED;
      p->*far = rotate(w, far, near);
      w = c;
    }
    w->m_Color = p->m_Color;
    p->m_Color = MvTreeNode::BLACK;
    (w->*far)->m_Color = MvTreeNode::BLACK;
    path.pop();
    replaceChild(path.top(), p, rotate(p, near, far));
    x = m_Root;
  }
  if (x)
    x->m_Color = MvTreeNode::BLACK;
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
      return;  // not a node of this tree
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
