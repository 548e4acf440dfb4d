// The red-black tree against std::set / std::map under long randomized runs, with the tree's
// invariants checked after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <typeinfo>

#include "mvmap.h"

namespace {

struct LengthFirst
{
  bool operator()(const std::string& a, const std::string& b) const
  {
    if (a.size() != b.size())
      return a.size() < b.size();
    return a < b;  // ASCII digits: plain and signed order agree
  }
};

const MvString& keyOf(const MvFindable* o)
{
  if (typeid(*o) == typeid(MvString))
    return static_cast<const MvString&>(*o);
  if (const MvMapItem* item = dynamic_cast<const MvMapItem*>(o))
    o = item->object();
  if (const MvKeyValue* kv = dynamic_cast<const MvKeyValue*>(o))
    o = &kv->first();
  return dynamic_cast<const MvString&>(*o);
}

// Walks the subtree; answers its black height and appends its keys in order.
int check(const MvTreeNode* n, std::vector<const MvString*>& keys, ::testing::AssertionResult& ok)
{
  if (!n)
    return 1;
  if (n->isRed() && ((n->left() && n->left()->isRed()) || (n->right() && n->right()->isRed())))
    ok = ::testing::AssertionFailure()
         << "red node with a red child at " << keyOf(n->object()).c_str();
  const int lh = check(n->left(), keys, ok);
  keys.push_back(&keyOf(n->object()));
  const int rh = check(n->right(), keys, ok);
  if (lh != rh)
    ok = ::testing::AssertionFailure()
         << "black heights " << lh << " and " << rh << " below " << keyOf(n->object()).c_str();
  return lh + (n->isRed() ? 0 : 1);
}

::testing::AssertionResult Invariants(const MvRBTree& t, unsigned expectedNodes)
{
  ::testing::AssertionResult ok = ::testing::AssertionSuccess();
  if (t.root() && t.root()->isRed())
    return ::testing::AssertionFailure() << "red root";
  std::vector<const MvString*> keys;
  check(t.root(), keys, ok);
  if (!ok)
    return ok;
  if (keys.size() != expectedNodes)
    return ::testing::AssertionFailure() << keys.size() << " nodes, expected " << expectedNodes;
  for (size_t i = 1; i < keys.size(); ++i)
    if (keys[i - 1]->compare(*keys[i]) >= 0)
      return ::testing::AssertionFailure()
             << "out of order: " << keys[i - 1]->c_str() << " before " << keys[i]->c_str();
  return ok;
}

template <class F>
long thrownCode(F f)
{
  try {
    f();
  } catch (const MVFC_Exception& e) {
    return e.code();
  }
  return 0;
}

TEST(MvRBTree, RandomizedAgainstStdSet)
{
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> key(0, 1199), op(0, 99);
  MvRBTree tree;
  std::set<std::string, LengthFirst> model;
  for (int step = 0; step < 20000; ++step) {
    const std::string k = std::to_string(key(rng));
    const MvString mk(k.c_str());
    const int o = op(rng);
    if (o < 50) {
      const bool fresh = model.insert(k).second;
      if (fresh) {
        MvFindable* stored = tree.put(mk);
        ASSERT_NE(static_cast<const MvFindable*>(&mk), stored);
        ASSERT_EQ(mk, keyOf(stored));
      } else {
        ASSERT_EQ(TBX_E_DUPLICATE_KEY, thrownCode([&] { tree.put(mk); })) << k;
      }
    } else if (o < 85) {
      ASSERT_EQ(model.erase(k) == 1, tree.remove(mk)) << "step " << step << " key " << k;
    } else {
      MvFindable* f = tree.find(mk);
      ASSERT_EQ(model.count(k) == 1, f != nullptr) << k;
      if (f) {
        ASSERT_EQ(mk, keyOf(f));
      }
    }
    ASSERT_EQ(model.size(), tree.size());
    ASSERT_TRUE(Invariants(tree, static_cast<unsigned>(model.size()))) << "after step " << step;
  }
  // Everything left is found in order and nothing else is.
  std::vector<const MvString*> keys;
  ::testing::AssertionResult ok = ::testing::AssertionSuccess();
  check(tree.root(), keys, ok);
  auto it = model.begin();
  for (const MvString* k : keys)
    ASSERT_EQ(MvString((it++)->c_str()), *k);
  tree.clear();
  EXPECT_EQ(0u, tree.size());
  EXPECT_EQ(nullptr, tree.root());
}

TEST(MvRBTree, SequentialRunsAndRemovalOfEverySecond)
{
  MvRBTree tree;
  char buf[16];
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(buf, sizeof buf, "k%d", i);
    tree.put(MvString(buf));
  }
  ASSERT_TRUE(Invariants(tree, 1000));
  for (int i = 0; i < 1000; i += 2) {
    std::snprintf(buf, sizeof buf, "k%d", i);
    ASSERT_TRUE(tree.remove(MvString(buf)));
  }
  ASSERT_TRUE(Invariants(tree, 500));
  for (int i = 0; i < 1000; ++i) {
    std::snprintf(buf, sizeof buf, "k%d", i);
    EXPECT_EQ(i % 2 == 1, tree.find(MvString(buf)) != nullptr) << buf;
  }
  EXPECT_FALSE(tree.remove(MvString("k0")));
  // Descending removal of the rest exercises the mirrored cases.
  for (int i = 999; i > 0; i -= 2) {
    std::snprintf(buf, sizeof buf, "k%d", i);
    ASSERT_TRUE(tree.remove(MvString(buf)));
    ASSERT_TRUE(Invariants(tree, tree.size()));
  }
  EXPECT_EQ(0u, tree.size());
}

TEST(MvRBTree, DuplicatesStoredPointersAndOddKeys)
{
  MvRBTree tree;
  MvFindable* a = tree.put(MvString("a"));
  EXPECT_EQ(TBX_E_DUPLICATE_KEY, thrownCode([&] { tree.put(MvString("a")); }));
  EXPECT_EQ(1u, tree.size());
  // No key is reserved by the implementation.
  tree.put(MvString("__dummy"));
  tree.put(MvString(""));
  EXPECT_NE(nullptr, tree.find(MvString("__dummy")));
  EXPECT_NE(nullptr, tree.find(MvString()));
  // Removing other keys, including ones with two children, leaves stored objects in place.
  for (int i = 0; i < 200; ++i)
    tree.put(MvString(std::to_string(i).c_str()));
  for (int i = 0; i < 200; i += 3)
    tree.remove(MvString(std::to_string(i).c_str()));
  EXPECT_EQ(a, tree.find(MvString("a")));
  EXPECT_EQ(MvString("a"), keyOf(a));
  ASSERT_TRUE(Invariants(tree, tree.size()));

  MvRBTree copy(tree);
  ASSERT_TRUE(Invariants(copy, tree.size()));
  EXPECT_NE(a, copy.find(MvString("a")));
  EXPECT_TRUE(copy.isInstanceOf("MvContainer"));
  EXPECT_FALSE(copy.isInstanceOf("MvFindable"));
}

TEST(MvRBTree, RoundLog)
{
  const long cases[][2] = {{0, 0}, {1, 0},  {2, 1},  {3, 1},         {4, 2}, {7, 2},
                           {8, 3}, {15, 3}, {16, 4}, {1L << 30, 30}, {-1, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(c[1], ROUND_LOG(c[0])) << c[0];
}

TEST(MvStrMap, RandomizedAgainstStdMapWithInsertionOrder)
{
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> key(0, 499), op(0, 99);
  MvStrMap map;
  std::map<std::string, std::string> model;
  std::vector<std::string> order;  // keys in the order they were first set
  for (int step = 0; step < 6000; ++step) {
    const std::string k = std::to_string(key(rng));
    const MvString mk(k.c_str());
    const int o = op(rng);
    if (o < 55) {
      const std::string v = "v" + std::to_string(step);
      if (!model.count(k))
        order.push_back(k);
      model[k] = v;
      map[mk] = v.c_str();
    } else if (o < 80) {
      if (model.erase(k))
        order.erase(std::find(order.begin(), order.end(), k));
      map.remove(mk);
    } else {
      const MvString* v = map.lookup(mk);
      ASSERT_EQ(model.count(k) == 1, v != nullptr);
      if (v) {
        ASSERT_EQ(MvString(model[k].c_str()), *v);
      }
    }
    ASSERT_EQ(model.size(), map.size());
    ASSERT_TRUE(Invariants(map, static_cast<unsigned>(model.size()))) << "after step " << step;
    size_t i = 0;
    for (MvStrMap::iterator it = map.begin(); it != map.end(); ++it, ++i) {
      ASSERT_LT(i, order.size());
      ASSERT_EQ(MvString(order[i].c_str()), MvStrMap::key(it));
      ASSERT_EQ(MvString(model[order[i]].c_str()), MvStrMap::value(it));
    }
    ASSERT_EQ(order.size(), i);
  }
}

}  // namespace
