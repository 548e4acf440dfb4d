// The element tree: the written form, attributes, children and their order, parent pointers,
// the enumerator, the codecs and the path helpers.
#include "xml_test_util.h"

#include "xmlElementEnum.h"

#include <vector>

namespace {

#define BYTES(lit) std::string(lit, sizeof(lit) - 1)

xmlElementPtr make(const char* tag)
{
  xmlElementPtr e;
  xmlParser::createElement(tag, e.receive());
  return e;
}

// Tags (and texts, when set) of the children in enumeration order, "tag:text" each.
std::string enumerate(xmlElement* e, const char* tag)
{
  xmlEnumPtr en;
  e->enumChildren(tag, en.receive());
  std::string seen;
  xmlElementPtr child;
  while (en->getNext(child.receive())) {
    MvString t, x;
    child->getTag(t);
    child->getText(x);
    seen += str(t) + ":" + str(x) + " ";
  }
  EXPECT_TRUE(en->isEmpty());
  return seen;
}

TEST(XmlCodec, EncodeDecode)
{
  const struct
  {
    std::string plain, encoded;
  } roundTrips[] = {
      {"", ""},
      {"abc", "abc"},
      {"a<b>&\"'", "a&lt;b&gt;&amp;&quot;&apos;"},
      {"Fish & Chips", "Fish &amp; Chips"},
      {"&amp;", "&amp;amp;"},
      {"Caf\xE9", "Caf\xE9"},
      {BYTES("x\0y"), BYTES("x\0y")},
  };
  for (const auto& c : roundTrips) {
    MvString enc, dec;
    XMLEncode(mv(c.plain), enc);
    EXPECT_EQ(str(enc), c.encoded);
    XMLDecode(enc, dec);
    EXPECT_EQ(str(dec), c.plain);
  }

  const struct
  {
    const char* in;
    std::string out;
  } decodes[] = {
      {"x&lt;y&gt;&amp;&quot;&apos;z", "x<y>&\"'z"},
      {"a&#38;b", "a&b"},
      {"a&b", "a&b"},
      {"Caf&#233;", "Caf\xE9"},
      {"&#x41;&#X41;&#x4a;&#65", "A&#X41;J&#65"},
      {"&#0;&#256;&#x100;&#;&#x;&#-1;", "&#0;&#256;&#x100;&#;&#x;&#-1;"},
      {"&#00000065;", "A"},
      {"&#99999999999999999999;", "&#99999999999999999999;"},
      {"&quotx", "&quotx"},
      {"&amp", "&amp"},
      {"&nbsp;", "&nbsp;"},
      {"&&amp;;", "&&;"},
      {"&", "&"},
  };
  for (const auto& c : decodes) {
    MvString out;
    XMLDecode(c.in, out);
    EXPECT_EQ(str(out), c.out) << c.in;
  }
}

TEST(XmlCodec, Atoi)
{
  const struct
  {
    const char* in;
    bool ok;
    int value;
  } cases[] = {
      {"42", true, 42}, {"", true, 0},    {"4a", false, 4},
      {"a4", false, 0}, {"-1", false, 0}, {"007", true, 7},
  };
  for (const auto& c : cases) {
    int v = -5;
    EXPECT_EQ(xmlAtoi(c.in, v), c.ok) << c.in;
    EXPECT_EQ(v, c.value) << c.in;
  }
}

using Element = XmlTest;

TEST_F(Element, WrittenForms)
{
  xmlElementPtr e = make("E");
  EXPECT_EQ(written(e.get()), "<E/>");
  e->insertChild(make("C").get());
  EXPECT_EQ(written(e.get()), "<E><C/></E>");

  xmlElementPtr doc = make("");
  doc->setText("t");
  doc->insertChild(make("C").get());
  EXPECT_EQ(written(doc.get()), "t<C/>");

  xmlElementPtr tbx = make("TBX");
  tbx->setAttribute("VERSION", "1");
  tbx->setAttribute("VTURL", "a&b");
  EXPECT_EQ(written(tbx.get()), "<TBX VERSION=\"1\" VTURL=\"a&amp;b\"/>");
  tbx->setText("x");
  EXPECT_EQ(written(tbx.get()), "<TBX VERSION=\"1\" VTURL=\"a&amp;b\">x</TBX>");
  tbx->setAttribute("EMPTY", "");
  tbx->setText("");
  EXPECT_EQ(written(tbx.get()), "<TBX VERSION=\"1\" VTURL=\"a&amp;b\" EMPTY=\"\"/>");
  tbx->setText("<raw&>");
  EXPECT_EQ(written(tbx.get()), "<TBX VERSION=\"1\" VTURL=\"a&amp;b\" EMPTY=\"\"><raw&></TBX>");
}

TEST_F(Element, AttributesKeepFirstSetOrderAndReplaceInPlace)
{
  xmlElementPtr e = make("E");
  EXPECT_TRUE(e->setAttribute("B", "1"));
  EXPECT_TRUE(e->setAttribute("A", "1<2"));
  EXPECT_TRUE(e->setAttribute("B", "3"));
  EXPECT_EQ(written(e.get()), "<E B=\"3\" A=\"1&lt;2\"/>");

  MvString v("unchanged");
  EXPECT_TRUE(e->getAttribute("A", v));
  EXPECT_EQ(str(v), "1<2");
  v = "unchanged";
  EXPECT_FALSE(e->getAttribute("Z", v));
  EXPECT_EQ(str(v), "unchanged");
}

TEST_F(Element, ChildrenInInsertionOrderAcrossTags)
{
  xmlElementPtr e = make("E");
  const char* order[][2] = {{"x", "1"}, {"y", "1"}, {"x", "2"}};
  for (auto& o : order) {
    xmlElementPtr c = make(o[0]);
    c->setText(o[1]);
    e->insertChild(c.get());
  }
  EXPECT_EQ(written(e.get()), "<E><x>1</x><y>1</y><x>2</x></E>");

  xmlElementPtr c;
  ASSERT_TRUE(e->getChild("x", 1, c.receive()));
  MvString t;
  c->getText(t);
  EXPECT_EQ(str(t), "2");
  EXPECT_FALSE(e->getChild("z", 0, c.receive()));
  EXPECT_FALSE(c);
  try {
    e->getChild("x", 2, c.receive());
    ADD_FAILURE() << "no exception";
  } catch (const MVFC_Exception& ex) {
    EXPECT_EQ(ex.code(), TBX_E_OUT_OF_RANGE);
  }

  EXPECT_EQ(enumerate(e.get(), ""), "x:1 y:1 x:2 ");
  EXPECT_EQ(enumerate(e.get(), "y"), "y:1 x:2 ");
  EXPECT_EQ(enumerate(e.get(), "z"), "");

  EXPECT_FALSE(e->removeChild("x", 2));
  EXPECT_FALSE(e->removeChild("x", -1));
  EXPECT_FALSE(e->removeChild("z", 0));
  EXPECT_TRUE(e->removeChild("x", 0));
  EXPECT_EQ(written(e.get()), "<E><y>1</y><x>2</x></E>");
  EXPECT_TRUE(e->removeChild("x", 0));
  EXPECT_FALSE(e->getChild("x", 0, c.receive()));
  xmlElementPtr fresh = make("x");
  fresh->setText("3");
  e->insertChild(fresh.get());
  ASSERT_TRUE(e->getChild("x", 0, c.receive()));
  EXPECT_EQ(c.get(), fresh.get());
  EXPECT_EQ(written(e.get()), "<E><y>1</y><x>3</x></E>");
}

TEST_F(Element, RemovedChildForgetsItsParent)
{
  xmlElementPtr e = make("E");
  xmlElementPtr c = make("C");
  e->insertChild(c.get());
  xmlElementPtr p;
  ASSERT_TRUE(c->getParent(p.receive()));
  EXPECT_EQ(p.get(), e.get());
  p = nullptr;
  ASSERT_TRUE(e->removeChild("C", 0));
  EXPECT_FALSE(c->getParent(p.receive()));
  EXPECT_FALSE(p);
}

TEST_F(Element, ChildOutlivingItsParentForgetsIt)
{
  xmlElementPtr c;
  {
    xmlElementPtr e = make("E");
    xmlElementPtr mid = make("M");
    e->insertChild(mid.get());
    mid->insertChild(make("C").get());
    ASSERT_TRUE(mid->getChild("C", 0, c.receive()));
  }
  xmlElementPtr p;
  EXPECT_FALSE(c->getParent(p.receive()));
  EXPECT_EQ(written(c.get()), "<C/>");
}

TEST_F(Element, DeepTreeIsWrittenAndFreedWithoutRecursion)
{
  const int depth = 100000;
  xmlElementPtr top = make("e");
  xmlElementPtr cur = top;
  for (int i = 1; i < depth; ++i) {
    xmlElementPtr next = make("e");
    cur->insertChild(next.get());
    cur = next;
  }
  cur = nullptr;
  const std::string text = written(top.get());
  EXPECT_EQ(text.size(), static_cast<size_t>(depth - 1) * 7 + 4);
  EXPECT_EQ(text.compare(0, 6, "<e><e>"), 0);
  top = nullptr;
}

// Attributes of parsed and of built elements, few and many (the index), replaced with values of
// other lengths: the first-set order stays and every value reads back.
TEST_F(Element, ManyAttributesKeepOrderThroughReplacement)
{
  for (const int count : {3, 17, 200}) {
    for (const bool parsed : {false, true}) {
      std::string text = "<E";
      std::string expected = "<E";
      for (int i = 0; i < count; ++i) {
        text += " a" + std::to_string(i) + "='" + std::to_string(i) + "'";
        // Every third name is set again in the same tag: it keeps its place, the last wins.
        if (i % 3 == 2)
          text += " a" + std::to_string(i - 1) + "='x" + std::to_string(i) + "'";
      }
      text += "/>";
      xmlElementPtr e;
      if (parsed) {
        xmlElementPtr doc;
        ASSERT_EQ(parse(text, doc), 0);
        ASSERT_TRUE(doc->getChild("E", 0, e.receive()));
      } else {
        e = make("E");
        for (int i = 0; i < count; ++i) {
          e->setAttribute(mv("a" + std::to_string(i)), mv(std::to_string(i)));
          if (i % 3 == 2)
            e->setAttribute(mv("a" + std::to_string(i - 1)), mv("x" + std::to_string(i)));
        }
      }
      // Longer, shorter and equal-length replacements after the parse or the build.
      e->setAttribute("a0", "longer value & more");
      e->setAttribute(mv("a" + std::to_string(count - 1)), "");
      e->setAttribute("new", "n");
      for (int i = 0; i < count; ++i) {
        std::string value =
            i % 3 == 1 && i + 1 < count ? "x" + std::to_string(i + 1) : std::to_string(i);
        if (i == 0)
          value = "longer value &amp; more";
        if (i == count - 1)
          value = "";
        expected += " a" + std::to_string(i) + "=\"" + value + "\"";
      }
      expected += " new=\"n\"/>";
      EXPECT_EQ(written(e.get()), expected) << count << (parsed ? " parsed" : " built");
      MvString v;
      ASSERT_TRUE(e->getAttribute("a0", v));
      EXPECT_EQ(str(v), "longer value & more");
      ASSERT_TRUE(e->getAttribute("new", v));
      EXPECT_EQ(str(v), "n");
      EXPECT_FALSE(e->getAttribute("a", v));
    }
  }
}

// Random sets (names from a pool larger than the index threshold, values of any length) on a
// parsed and on a built element, each checked against a list of pairs after every step.
TEST_F(Element, AttributeSetsMatchAPlainList)
{
  for (const bool parsed : {false, true}) {
    uint32_t seed = parsed ? 7u : 11u;
    auto next = [&seed](uint32_t bound) {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) % bound;
    };
    std::vector<std::pair<std::string, std::string>> model;
    auto set = [&model](const std::string& name, const std::string& value) {
      for (auto& p : model)
        if (p.first == name) {
          p.second = value;
          return;
        }
      model.emplace_back(name, value);
    };
    xmlElementPtr e;
    if (parsed) {
      std::string text = "<E";
      for (int i = 0; i < 12; ++i) {
        const std::string name = "n" + std::to_string(next(40));
        const std::string value(next(300), static_cast<char>('a' + i));
        text += " " + name + "='" + value + "'";
        set(name, value);
      }
      xmlElementPtr doc;
      ASSERT_EQ(parse(text + "/>", doc), 0);
      ASSERT_TRUE(doc->getChild("E", 0, e.receive()));
    } else {
      e = make("E");
    }
    for (int step = 0; step < 400; ++step) {
      const std::string name = "n" + std::to_string(next(40));
      const std::string value(next(step % 50 == 0 ? 2000 : 40), static_cast<char>('a' + step % 26));
      e->setAttribute(mv(name), mv(value));
      set(name, value);
      std::string expected = "<E";
      for (const auto& p : model)
        expected += " " + p.first + "=\"" + p.second + "\"";
      ASSERT_EQ(written(e.get()), expected + "/>")
          << (parsed ? "parsed" : "built") << ", step " << step;
      MvString v;
      ASSERT_TRUE(e->getAttribute(mv(name), v));
      ASSERT_EQ(str(v), value);
    }
  }
}

// Elements taken out of a parsed document stay whole after the document is gone (they share
// its storage), and a child inserted elsewhere moves there.
TEST_F(Element, ParsedElementsOutliveTheirDocumentAndMove)
{
  xmlElementPtr item, other = make("O");
  {
    xmlElementPtr doc;
    ASSERT_EQ(parse("<TBX A='1'><ITEM N='x'>text</ITEM><ITEM N='y'/></TBX>", doc), 0);
    xmlElementPtr tbx;
    ASSERT_TRUE(doc->getChild("TBX", 0, tbx.receive()));
    ASSERT_TRUE(tbx->getChild("ITEM", 0, item.receive()));
    xmlElementPtr second;
    ASSERT_TRUE(tbx->getChild("ITEM", 1, second.receive()));
    other->insertChild(second.get());
    EXPECT_EQ(written(tbx.get()), "<TBX A=\"1\"><ITEM N=\"x\">text</ITEM></TBX>");
    other->insertChild(second.get());  // again: it stays once, at the end
  }
  EXPECT_EQ(written(item.get()), "<ITEM N=\"x\">text</ITEM>");

  // A long parsed value replaced by a short one: the element takes a block of its own that
  // must hold the old block while it is rewritten.
  xmlElementPtr doc, big;
  const std::string value(600, 'v');
  ASSERT_EQ(parse("<B L='" + value + "' M='1'/>", doc), 0);
  ASSERT_TRUE(doc->getChild("B", 0, big.receive()));
  big->setAttribute("L", "s");
  EXPECT_EQ(written(big.get()), "<B L=\"s\" M=\"1\"/>");
  item->setText("changed");
  item->setAttribute("N", "longer");
  EXPECT_EQ(written(item.get()), "<ITEM N=\"longer\">changed</ITEM>");
  EXPECT_EQ(written(other.get()), "<O><ITEM N=\"y\"/></O>");
  xmlElementPtr p;
  EXPECT_FALSE(item->getParent(p.receive()));
}

TEST_F(Element, ObjectProtocol)
{
  xmlElementPtr e = make("b");
  EXPECT_TRUE(e->isInstanceOf("xmlElement"));
  EXPECT_TRUE(e->isInstanceOf("MvFindable"));
  EXPECT_TRUE(e->isInstanceOf("MvObject"));
  EXPECT_FALSE(e->isInstanceOf("MvString"));
  EXPECT_FALSE(e->isInstanceOf("xmlElem"));
  EXPECT_TRUE(e.isInstanceOf("xmlElementPtr"));
  EXPECT_TRUE(e.isInstanceOf("MvPtr"));
  EXPECT_FALSE(e.isInstanceOf("xmlEnumPtr"));
  // Ordered by tag, against a string or another element (length first, as strings are).
  EXPECT_TRUE(*e == MvString("b"));
  EXPECT_TRUE(*e < MvString("aa"));
  EXPECT_FALSE(*e < MvString("a"));
  xmlElementPtr other = make("c");
  EXPECT_TRUE(*e < *other);
  EXPECT_FALSE(*e == *other);
  xmlEnumPtr en;
  e->enumChildren("", en.receive());
  EXPECT_TRUE(en->isInstanceOf("xmlElementEnum"));
  EXPECT_TRUE(en.isInstanceOf("xmlEnumPtr"));
  EXPECT_TRUE(en->isEmpty());
}

TEST_F(Element, QueryPaths)
{
  xmlElementPtr doc;
  ASSERT_EQ(parse("<TBX TBX.VTAUTOURL='u' VTKEYID='k'><ORDER A='0'/><ORDER A='1'><ITEM "
                  "N='x'/></ORDER></TBX>",
                  doc),
            0);
  xmlElementPtr tbx;
  ASSERT_TRUE(doc->getChild("TBX", 0, tbx.receive()));

  MvString v;
  EXPECT_TRUE(xmlGetAttributeEx(tbx.get(), "TBX.VTAUTOURL", v));
  EXPECT_EQ(str(v), "u");
  EXPECT_TRUE(xmlGetAttributeEx(tbx.get(), "VTKEYID", v));
  EXPECT_EQ(str(v), "k");
  EXPECT_FALSE(xmlGetAttributeEx(tbx.get(), "MISSING", v));

  const struct
  {
    const char* path;
    long result;
    const char* attribute;  // the name handed back on result 0
    const char* value;      // its value on the resolved element
  } cases[] = {
      {"VTKEYID", 0, "VTKEYID", "k"},        {"ORDER(.1).A", 0, "A", "1"},
      {"ORDER(.).A", 0, "A", "0"},           {"ORDER(.0)A", 0, "A", "0"},
      {"ORDER(.1).ITEM(.0).N", 0, "N", "x"}, {"ORDER(.x).A", 1, nullptr, nullptr},
      {"ORDER(.1.A", 3, nullptr, nullptr},   {"ORDER(.2).A", 4, nullptr, nullptr},
      {"NONE(.0).A", 4, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    MvString path(c.path);
    xmlElementPtr found;
    EXPECT_EQ(xmlQuerySubElement(tbx.get(), path, found.receive()), c.result) << c.path;
    if (c.result != 0) {
      EXPECT_FALSE(found) << c.path;
      EXPECT_FALSE(xmlGetAttributeEx(tbx.get(), c.path, v)) << c.path;
      EXPECT_FALSE(xmlSetAttributeEx(tbx.get(), c.path, "v")) << c.path;
      continue;
    }
    EXPECT_EQ(str(path), c.attribute) << c.path;
    EXPECT_TRUE(xmlGetAttributeEx(tbx.get(), c.path, v)) << c.path;
    EXPECT_EQ(str(v), c.value) << c.path;
  }

  EXPECT_TRUE(xmlSetAttributeEx(tbx.get(), "ORDER(.1).ITEM(.0).N", "a&b"));
  EXPECT_TRUE(xmlSetAttributeEx(tbx.get(), "NEW", "1"));
  EXPECT_EQ(written(tbx.get()),
            "<TBX TBX.VTAUTOURL=\"u\" VTKEYID=\"k\" NEW=\"1\"><ORDER A=\"0\"/><ORDER A=\"1\">"
            "<ITEM N=\"a&amp;b\"/></ORDER></TBX>");
}

}  // namespace
