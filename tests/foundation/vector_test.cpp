// Vectors and stacks: growth, index checks, sharing of the pointed-to objects, group ordering.
#include <gtest/gtest.h>

#include "mvstring.h"
#include "mvvector.h"

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

TEST(MvVector, GrowthByPushes)
{
  MvVector v;
  EXPECT_EQ(0u, v.capacity());
  EXPECT_EQ(nullptr, v.begin());
  MvString s[18];
  v.push_back(&s[0]);
  EXPECT_EQ(17u, v.capacity());
  EXPECT_EQ(1u, v.size());
  for (int i = 1; i < 18; ++i)
    v.push_back(&s[i]);
  EXPECT_EQ(34u, v.capacity());
  for (unsigned i = 0; i < 18; ++i)
    EXPECT_EQ(&s[i], v.at(i));
  EXPECT_EQ(&s[0], v.begin());
  EXPECT_EQ(nullptr, v.end());

  MvVector five(5);
  EXPECT_EQ(5u, five.capacity());
  EXPECT_EQ(0u, five.size());
  EXPECT_EQ(nullptr, five.begin());
  five.pop_back();  // guarded on an empty vector
  EXPECT_EQ(0u, five.size());
}

TEST(MvVector, RemoveAndIndexChecks)
{
  MvString a("a"), b("b"), c("c");
  MvVector v;
  v.push_back(&a);
  v.push_back(&b);
  v.push_back(&c);
  v.remove(1);
  ASSERT_EQ(2u, v.size());
  EXPECT_EQ(&a, v.at(0));
  EXPECT_EQ(&c, v.at(1));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { v.remove(3); }));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { v.remove(2); }));
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([&] { v.at(2); }));
  EXPECT_EQ(2u, v.size());
  EXPECT_EQ(TBX_E_OUT_OF_RANGE, thrownCode([] { MvStack().top(); }));
  EXPECT_EQ(TBX_E_OUT_OF_MEMORY, thrownCode([&] { v.grow(0xFFFFFFF0u); }));
  EXPECT_EQ(&c, v.at(1));  // the old array is kept
}

TEST(MvVector, CopySharesObjectsAndClearKeepsThem)
{
  MvString* a = new MvString("a");
  MvString* b = new MvString("b");
  MvVector v;
  v.push_back(a);
  v.push_back(b);
  MvVector copy;
  copy.assign(static_cast<const MvObject&>(v));
  EXPECT_EQ(v.capacity(), copy.capacity());
  ASSERT_EQ(2u, copy.size());
  EXPECT_EQ(a, copy.at(0));
  EXPECT_EQ(b, copy.at(1));
  MvVector copy2;
  copy2.assign(v);  // the non-const overload copies fully too
  EXPECT_EQ(b, copy2.at(1));
  MvVector copy3(v);
  EXPECT_EQ(a, copy3.at(0));
  copy3 = copy3;
  EXPECT_EQ(a, copy3.at(0));

  v.clear();
  EXPECT_EQ(0u, v.size());
  EXPECT_EQ(0u, v.capacity());
  EXPECT_EQ(MvString("a"), *a);  // still alive
  delete a;
  delete b;
}

TEST(MvVector, ClassNames)
{
  struct Case
  {
    const MvObject* o;
    const char* name;
    bool want;
  };
  MvVector v;
  MvStack st;
  MvFindableVector fv;
  const Case cases[] = {
      {&v, "MvVector", true},          {&v, "MvContainer", true},
      {&v, "MvObject", true},          {&v, "MvFindable", false},
      {&st, "MvStack", true},          {&st, "MvVector", true},
      {&fv, "MvFindableVector", true}, {&fv, "MvFindableContainer", true},
      {&fv, "MvFindable", true},       {&fv, "MvContainer", false},
      {&fv, "MvVector", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.want, c.o->isInstanceOf(c.name)) << c.name;

  MvObject* slot = nullptr;
  const MvObject& given = st;
  given.getAllocator()(&slot);
  EXPECT_TRUE(slot->isInstanceOf("MvStack"));
  delete slot;
}

TEST(MvFindableVector, OrderByFirstElement)
{
  MvString a("a"), b("b"), a2("a");
  MvFindableVector e1, e2, va, vb, vaa;
  va.push_back(&a);
  vb.push_back(&b);
  vaa.push_back(&a2);
  vaa.push_back(&b);

  EXPECT_TRUE(e1 == e2);
  EXPECT_FALSE(e1 < e2);
  EXPECT_FALSE(e2 < e1);
  EXPECT_TRUE(e1 < va);
  EXPECT_FALSE(va < e1);
  EXPECT_FALSE(e1 == va);
  EXPECT_TRUE(va < vb);
  EXPECT_FALSE(vb < va);
  // A group is known by its first element whatever its size.
  EXPECT_TRUE(va == vaa);
  EXPECT_TRUE(vaa == va);
  EXPECT_FALSE(va < vaa);
  EXPECT_FALSE(vaa < va);
  EXPECT_TRUE(vaa < vb);

  // Against a plain findable the first element is compared with it.
  EXPECT_TRUE(va == static_cast<const MvFindable&>(a2));
  EXPECT_TRUE(va < static_cast<const MvFindable&>(b));
  EXPECT_TRUE(e1 < static_cast<const MvFindable&>(a));
  EXPECT_FALSE(e1 == static_cast<const MvFindable&>(a));
  // And a string probe asks the group back.
  EXPECT_TRUE(static_cast<const MvFindable&>(a2) == va);
  EXPECT_TRUE(static_cast<const MvFindable&>(a) < vb);
  EXPECT_FALSE(static_cast<const MvFindable&>(b) < va);
}

}  // namespace
