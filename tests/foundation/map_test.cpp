// Maps and multimaps: insertion order, replacement in place, group removal and re-creation,
// ownership of entries and of shared objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mvmap.h"

namespace {

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

// A shared object that records its destruction.
struct Tracked : MvObject
{
  explicit Tracked(int* destroyed = nullptr) : m_Destroyed(destroyed) {}
  ~Tracked() override
  {
    if (m_Destroyed)
      ++*m_Destroyed;
  }
  int* m_Destroyed;
};

std::vector<std::string> keys(const MvStrMap& m)
{
  std::vector<std::string> out;
  for (MvStrMap::iterator it = m.begin(); it != m.end(); ++it)
    out.push_back(MvStrMap::key(it).c_str());
  return out;
}

// "key=tag" for each entry of a string-to-pointer multimap, in iteration order; the tag is the
// Tracked object's address order in `objs`.
std::string order(const MvStrPtrMultimap& m, const std::vector<Tracked*>& objs)
{
  std::string out;
  for (MvMultimap::iterator it = m.begin(); it != m.end(); ++it) {
    const MvStrPtr& e = static_cast<const MvStrPtr&>(*it);
    size_t tag = 0;
    while (tag < objs.size() && objs[tag] != e.second().get())
      ++tag;
    out += std::string(e.first().c_str()) + std::to_string(tag) + " ";
  }
  return out;
}

TEST(MvStrMap, InsertionOrderAndReplacementInPlace)
{
  MvStrMap m;
  m[MvString("bb")] = "1";
  m[MvString("a")] = "2";
  m[MvString("ccc")] = "3";
  EXPECT_EQ((std::vector<std::string>{"bb", "a", "ccc"}), keys(m));
  // The tree underneath is length first.
  EXPECT_EQ(MvString("bb"),
            MvStrMap::key(MvStrMap::iterator(static_cast<MvMapItem*>(m.root()->object()))));
  for (const char* k : {"bb", "a", "ccc"})
    EXPECT_NE(nullptr, m.find(MvString(k))) << k;

  m[MvString("bb")] = "changed";
  EXPECT_EQ((std::vector<std::string>{"bb", "a", "ccc"}), keys(m));
  EXPECT_EQ(MvString("changed"), *m.lookup(MvString("bb")));

  // Reading a missing key through [] adds it, empty; lookup() never adds.
  EXPECT_EQ(nullptr, m.lookup(MvString("zz")));
  EXPECT_EQ(3u, m.size());
  EXPECT_TRUE(m[MvString("zz")].empty());
  EXPECT_EQ(4u, m.size());
  EXPECT_EQ((std::vector<std::string>{"bb", "a", "ccc", "zz"}), keys(m));

  // Removal keeps the others' order; a re-added key goes to the end.
  EXPECT_TRUE(m.remove(MvString("a")));
  EXPECT_FALSE(m.remove(MvString("a")));
  m[MvString("a")] = "again";
  EXPECT_EQ((std::vector<std::string>{"bb", "ccc", "zz", "a"}), keys(m));

  EXPECT_EQ(TBX_E_DUPLICATE_KEY,
            thrownCode([&] { m.put(MvKeyValue(MvString("a"), MvString("x"))); }));
  EXPECT_EQ(4u, m.size());
  EXPECT_EQ(MvString("again"), *m.lookup(MvString("a")));

  // Copies keep the order and own their entries.
  MvStrMap copy(m);
  m[MvString("bb")] = "after copy";
  EXPECT_EQ(keys(m), keys(copy));
  EXPECT_EQ(MvString("changed"), *copy.lookup(MvString("bb")));

  m.clear();
  EXPECT_EQ(0u, m.size());
  EXPECT_TRUE(m.begin() == m.end());
  m[MvString("x")] = "1";
  EXPECT_EQ((std::vector<std::string>{"x"}), keys(m));

  EXPECT_TRUE(copy.isInstanceOf("MvStrMap"));
  EXPECT_TRUE(copy.isInstanceOf("MvMap"));
  EXPECT_TRUE(copy.isInstanceOf("MvRBTree"));
  EXPECT_FALSE(copy.isInstanceOf("MvMultimap"));
}

TEST(MvStrMap, ForeignEntriesFallBackToVirtualOrder)
{
  MvStrMap m;
  m[MvString("a")] = "1";
  // An entry whose value is not a string: lookups keep working through the virtual operators.
  m.put(MvKeyValue(MvString("bb"), MvVector()));
  m[MvString("ccc")] = "3";
  EXPECT_EQ(MvString("1"), *m.lookup(MvString("a")));
  EXPECT_EQ(MvString("3"), *m.lookup(MvString("ccc")));
  EXPECT_NE(nullptr, m.findItem(MvString("bb")));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { m.lookup(MvString("bb")); }));
  EXPECT_EQ((std::vector<std::string>{"a", "bb", "ccc"}), keys(m));
}

TEST(MvMap, GenericEntriesAndOwnership)
{
  const int32_t before = MvRefCounter::m_nTotalRef.load();
  {
    MvMap m;
    MvMapItem* x = m.put(MvKeyValue(MvString("x"), MvString("1")));
    m.put(MvString("plain"));  // any findable is an entry
    EXPECT_EQ(x, m.findItem(MvString("x")));
    MvFindable& e = m[MvString("y")];  // missing: a copy of the key itself is inserted
    EXPECT_TRUE(e.isInstanceOf("MvString"));
    EXPECT_EQ(3u, m.size());
    MvMap::iterator it = m.insert(MvString("z"));
    EXPECT_EQ(MvString("z"), static_cast<MvString&>(*it));
    EXPECT_TRUE(m.remove(MvString("plain")));
    std::string seen;
    for (MvMap::iterator i = m.begin(); i != m.end(); ++i)
      seen += i->isInstanceOf("MvKeyValue") ? "kv " : "s ";
    EXPECT_EQ("kv s s ", seen);
  }
  // Every entry, item, node and group went with the map.
  EXPECT_EQ(before, MvRefCounter::m_nTotalRef.load());
}

TEST(MvStrPtrMultimap, GroupsInsertionOrderRemovalAndRecreation)
{
  std::vector<Tracked*> objs;
  int destroyed = 0;
  for (int i = 0; i < 4; ++i)
    objs.push_back(new Tracked(&destroyed));
  {
    MvStrPtrMultimap m;
    m.put(MvString("x"), MvPtr(objs[0]));  // x1
    m.put(MvString("y"), MvPtr(objs[1]));  // y1
    m.put(MvString("x"), MvPtr(objs[2]));  // x2
    EXPECT_EQ("x0 y1 x2 ", order(m, objs));
    EXPECT_EQ(3u, m.size());
    EXPECT_EQ(2u, m.count(MvString("x")));
    EXPECT_EQ(objs[2], m.entry(MvString("x"), 1)->second().get());
    EXPECT_EQ(nullptr, m.entry(MvString("q"), 0));
    EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { m.entry(MvString("x"), 2); }));
    EXPECT_EQ(1, objs[2]->refCount());

    EXPECT_FALSE(m.remove(MvString("x"), 2));
    EXPECT_FALSE(m.remove(MvString("x"), -1));
    EXPECT_FALSE(m.remove(MvString("q"), 0));
    EXPECT_TRUE(m.remove(MvString("x"), 1));
    EXPECT_EQ(1, destroyed);  // the map held the last reference
    EXPECT_EQ("x0 y1 ", order(m, objs));
    EXPECT_TRUE(m.remove(MvString("x"), 0));
    EXPECT_EQ(2, destroyed);
    EXPECT_EQ(nullptr, m.group(MvString("x")));
    EXPECT_EQ("y1 ", order(m, objs));

    // A new put of the key starts a fresh group at the end of the order.
    m.put(MvString("x"), MvPtr(objs[3]));
    EXPECT_EQ("y1 x3 ", order(m, objs));
    EXPECT_EQ(objs[3], m.entry(MvString("x"), 0)->second().get());
    EXPECT_EQ(1u, m.count(MvString("x")));
    EXPECT_EQ(2u, m.size());

    // A caller's own reference keeps an object alive beyond the map.
    MvPtr keep(objs[1]);
    MvStrPtrMultimap copy(m);
    EXPECT_EQ(3, objs[1]->refCount());
    EXPECT_TRUE(m.remove(MvString("y")));
    EXPECT_EQ("x3 ", order(m, objs));
    EXPECT_EQ("y1 x3 ", order(copy, objs));
    EXPECT_EQ(2, destroyed);

    EXPECT_TRUE(m.isInstanceOf("MvStrPtrMultimap"));
    const MvMultimap& cm = m;
    EXPECT_TRUE(cm.isInstanceOf("MvMultimap"));
    EXPECT_FALSE(cm.isInstanceOf("MvMap"));
  }
  EXPECT_EQ(4, destroyed);
}

TEST(MvMultimap, ManyValuesPerKeyAgainstAModel)
{
  MvMultimap m;
  std::vector<std::pair<int, int>> model;  // (key, value) in insertion order
  for (int i = 0; i < 300; ++i) {
    const int k = (i * 7) % 13;
    m.put(MvKeyValue(MvString(std::to_string(k).c_str()), MvString(std::to_string(i).c_str())));
    model.emplace_back(k, i);
    if (i % 5 == 4) {  // remove the middle value of some key
      const int rk = (i * 3) % 13;
      std::vector<size_t> at;
      for (size_t j = 0; j < model.size(); ++j)
        if (model[j].first == rk)
          at.push_back(j);
      const bool any = !at.empty();
      EXPECT_EQ(any, m.remove(MvString(std::to_string(rk).c_str()), any ? long(at.size() / 2) : 0));
      if (any)
        model.erase(model.begin() + long(at[at.size() / 2]));
    }
    ASSERT_EQ(model.size(), m.size());
    size_t j = 0;
    for (MvMultimap::iterator it = m.begin(); it != m.end(); ++it, ++j) {
      const MvKeyValue& kv = static_cast<const MvKeyValue&>(*it);
      ASSERT_EQ(MvString(std::to_string(model[j].first).c_str()), kv.first());
      ASSERT_EQ(MvString(std::to_string(model[j].second).c_str()),
                static_cast<const MvString&>(kv.second()));
    }
    ASSERT_EQ(model.size(), j);
  }

  // A whole vector is refused when its key already has a group.
  MvKeyValue dup(MvString("0"), MvString("d"));
  MvFindableVector v;
  v.push_back(&dup);
  EXPECT_EQ(TBX_E_DUPLICATE_KEY, thrownCode([&] { m.put(v); }));
  MvKeyValue fresh1(MvString("new"), MvString("1")), fresh2(MvString("new"), MvString("2"));
  MvFindableVector w;
  w.push_back(&fresh1);
  w.push_back(&fresh2);
  m.put(w);
  EXPECT_EQ(2u, m.count(MvString("new")));

  // operator[] on a missing key adds a group holding the key with an empty value.
  MvFindableVector& g = m[MvString("zz")];
  EXPECT_EQ(1u, g.size());
  const MvKeyValue* e = static_cast<const MvKeyValue*>(m.at(MvString("zz"), 0));
  EXPECT_TRUE(static_cast<const MvString&>(e->second()).empty());
}

TEST(MvPtr, CountsAndRelease)
{
  int destroyed = 0;
  Tracked* t = new Tracked(&destroyed);
  {
    MvPtr a(t);
    EXPECT_EQ(1, t->refCount());
    MvPtr b;
    b = a;
    EXPECT_EQ(2, t->refCount());
    b = b;  // self-assignment keeps the object
    EXPECT_EQ(2, t->refCount());
    MvPtr c;
    c.assign(static_cast<const MvObject&>(a));
    EXPECT_EQ(3, t->refCount());
    c.reset();
    b = static_cast<MvObject*>(nullptr);
    EXPECT_EQ(1, t->refCount());
    EXPECT_EQ(0, destroyed);
  }
  EXPECT_EQ(1, destroyed);

  // attach() takes over a count handed out by someone else.
  Tracked* u = new Tracked(&destroyed);
  u->addRef();
  {
    MvPtr p;
    p.attach(u);
    EXPECT_EQ(1, u->refCount());
  }
  EXPECT_EQ(2, destroyed);
  EXPECT_TRUE(MvPtr().isInstanceOf("MvPtr"));
  EXPECT_FALSE(MvPtr().isInstanceOf("MvFindable"));
}

TEST(MvKeyValue, CopiesAndAssignment)
{
  MvKeyValue kv(MvString("k"), MvString("v"));
  MvKeyValue copy(kv);
  static_cast<MvString&>(kv.second()) = "changed";
  EXPECT_EQ(MvString("v"), static_cast<const MvString&>(copy.second()));
  copy.assign(MvString("only value"));
  EXPECT_EQ(MvString("k"), copy.first());
  EXPECT_EQ(MvString("only value"), static_cast<const MvString&>(copy.second()));
  copy = kv;
  EXPECT_EQ(MvString("changed"), static_cast<const MvString&>(copy.second()));
  EXPECT_TRUE(copy == static_cast<const MvFindable&>(kv));
  EXPECT_TRUE(copy == static_cast<const MvFindable&>(MvString("k")));
  EXPECT_TRUE(MvKeyValue(MvString("b"), MvString()) < MvKeyValue(MvString("aa"), MvString()));
}

}  // namespace
