// The red-black tree under the ordered maps: it keeps owned copies of findable objects in key
// order, without parent pointers (every walk records its path from the root instead).
#ifndef MVTREE_H
#define MVTREE_H

#include <cstdint>

#include "mvobject.h"
#include "mvvector.h"

// floor(log2(n)) for n > 0; 0 for 0 (n halved toward zero until it is 0).
long ROUND_LOG(long n);

// A node of MvRBTree. It owns its object, the tree's copy of a key. New nodes are red.
class MvTreeNode : public MvFindable
{
public:
  enum
  {
    BLACK = 0,
    RED = 1
  };

  MvTreeNode() : m_Color(RED), m_Left(nullptr), m_Right(nullptr), m_Object(nullptr) {}
  explicit MvTreeNode(MvFindable* owned)
      : m_Color(RED), m_Left(nullptr), m_Right(nullptr), m_Object(owned)
  {}
  // A new unlinked node holding a copy of `o`'s object.
  MvTreeNode(const MvTreeNode& o);
  ~MvTreeNode() override;
  MV_COPY_ASSIGN_THROUGH(MvTreeNode, MvFindable);
  MV_DECLARE_CLASS(MvTreeNode);

  // Another node: this node's object is replaced by a copy of that node's object.
  MvTreeNode& assign(const MvObject& o) override;
  // Compare the objects (another node's object, or any findable itself).
  MV_COMPARE_AS_HELD(MvTreeNode, m_Object);

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
  ~MvRBTree() override;
  MV_COPY_ASSIGN_THROUGH(MvRBTree, MvContainer);
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
  class PathStack;
  // One of a node's two child pointers. The rebalancing cases come in mirrored pairs; each is
  // written once, with the side it works on as a parameter.
  typedef MvTreeNode* MvTreeNode::*Side;

  // Rotates the subtree at `n`: its child on the `far` side rises and takes `n` as its `near`
  // child. Answers the subtree's new root; the caller re-attaches it.
  static MvTreeNode* rotate(MvTreeNode* n, Side near, Side far);
  // Puts `by` where `parent` (null: the root slot) held `old`.
  void replaceChild(MvTreeNode* parent, MvTreeNode* old, MvTreeNode* by);
  // After `x` was attached red under the last node of `path`: recolours and rotates upward
  // until no red node has a red parent.
  void restoreBalance(PathStack& path, MvTreeNode* x);
  // After a black node left the tree: `x` (possibly null) took its place under the last node of
  // `path` and carries an extra black, which is pushed up or absorbed by rotations.
  void fixup(PathStack& path, MvTreeNode* x);
};

#endif
