// The parser: results, the trees it builds (seen through their written form), round trips, the
// depth bound, and the table index against the row scan.
#include "xml_test_util.h"

#include "xmltab.h"

namespace {

// A literal that may hold zero bytes.
#define BYTES(lit) std::string(lit, sizeof(lit) - 1)

struct ParseCase
{
  const char* name;
  std::string input;
  long result;
  const char* output;  // the document written again, on success
};

const ParseCase kParseCases[] = {
    {"empty", "", 0, ""},
    {"text_without_tags_dropped", "text", 0, ""},
    {"element_with_text", "<a>x</a>", 0, "<a>x</a>"},
    {"text_is_last_run_before_end_tag", "<a>\n  <b>y</b>\n</a>", 0, "<a>\n<b>y</b></a>"},
    {"attribute_forms", "<a b=1 c='2' d=\"3\" e/>", 0, "<a b=\"1\" c=\"2\" d=\"3\" e=\"\"/>"},
    {"attribute_value_decoded_and_encoded_again", "<a t='&lt;x&gt;'/>", 0, "<a t=\"&lt;x&gt;\"/>"},
    {"text_not_decoded", "<a>&amp;</a>", 0, "<a>&amp;</a>"},
    {"end_tag_name_not_compared", "<a></b>", 0, "<a/>"},
    {"text_before_element", "text<a/>", 0, "text<a/>"},
    {"text_after_last_tag_dropped", "<a/>tail", 0, "<a/>"},
    {"last_run_wins", "<a>x<b/>y</a>", 0, "<a>y<b/></a>"},
    {"spaces_in_tags", "< a  x = '1' ></ a >", 0, "<a x=\"1\"/>"},
    {"unquoted_value_before_slash", "<a x=1/>", 0, "<a x=\"1\"/>"},
    {"unquoted_value_before_close", "<a x=1><b/></a>", 0, "<a x=\"1\"><b/></a>"},
    {"unquoted_value_before_space", "<a x=1 y=2/>", 0, "<a x=\"1\" y=\"2\"/>"},
    {"valueless_attributes", "<a x y/>", 0, "<a x=\"\" y=\"\"/>"},
    {"valueless_before_close", "<a x>t</a>", 0, "<a x=\"\">t</a>"},
    {"valueless_with_space_before_close", "<a x >t</a>", 0, "<a x=\"\">t</a>"},
    {"value_without_separating_space", "<a b='1'c='2'/>", 0, "<a b=\"1\" c=\"2\"/>"},
    {"repeated_attribute_replaced_in_place", "<a x='1' y='2' x='3'/>", 0, "<a x=\"3\" y=\"2\"/>"},
    {"apostrophe_in_double_quotes", "<a x=\"it's\"/>", 0, "<a x=\"it&apos;s\"/>"},
    {"quotes_in_single_quotes", "<a x='say \"hi\"'/>", 0, "<a x=\"say &quot;hi&quot;\"/>"},
    {"bare_ampersand_kept", "<a x='Fish & Chips'/>", 0, "<a x=\"Fish &amp; Chips\"/>"},
    {"numeric_reference", "<a x='Caf&#233;'/>", 0, "<a x=\"Caf\xE9\"/>"},
    {"tag_in_value", "<a x='<b>'/>", 0, "<a x=\"&lt;b&gt;\"/>"},
    {"empty_end_tag", "<a></>", 0, "<a/>"},
    {"siblings_and_nesting", "<r><x/><y>1</y><x a='b'/></r>", 0, "<r><x/><y>1</y><x a=\"b\"/></r>"},
    {"two_top_elements", "<a/><b/>", 0, "<a/><b/>"},
    {"high_bytes_in_text", "<a>\xC3\xA9\xFF</a>", 0, "<a>\xC3\xA9\xFF</a>"},
    {"zero_byte_in_text", BYTES("<a>x\0y</a>"), 0, nullptr},
    {"tbx_document",
     "<TBX MSGTYPE=\"PayInit\" KEYID=\"0001\" AMOUNT=\"1560\" CURRENCY=\"EUR\" "
     "DESCRIPTION=\"Books &amp; CDs\" SUCCESSLINK=\"https://shop.example/ok?a=1&amp;b=2\"/>",
     0,
     "<TBX MSGTYPE=\"PayInit\" KEYID=\"0001\" AMOUNT=\"1560\" CURRENCY=\"EUR\" "
     "DESCRIPTION=\"Books &amp; CDs\" SUCCESSLINK=\"https://shop.example/ok?a=1&amp;b=2\"/>"},

    {"declaration", "<?xml version='1.0'?><a/>", 1, nullptr},
    {"colon_in_name", "<a:b/>", 1, nullptr},
    {"comment", "<!-- c --><a/>", 1, nullptr},
    {"cdata", "<a><![CDATA[x]]></a>", 1, nullptr},
    {"open_inside_tag", "<a <b/>", 1, nullptr},
    {"open_after_open", "<a><</a>", 1, nullptr},
    {"equals_where_name_expected", "<a =1/>", 1, nullptr},
    {"quote_where_name_expected", "<a 'x'/>", 1, nullptr},
    {"slash_after_equals", "<a x=/>", 1, nullptr},
    {"unquoted_value_other_byte", "<a x=1:2/>", 1, nullptr},
    {"name_after_end_tag_name", "<a></a b>", 1, nullptr},
    {"close_after_open", "<>", 1, nullptr},

    {"unclosed_element", "<a>", 2, nullptr},
    {"unclosed_quote", "<a x='1", 2, nullptr},
    {"end_inside_tag", "<a x='1'", 2, nullptr},
    {"end_after_open", "<", 2, nullptr},
    {"end_inside_end_tag", "<a></a", 2, nullptr},
    {"inner_unclosed", "<a><b></a>", 2, nullptr},

    {"end_tag_at_top", "</a>", 3, nullptr},
    {"empty_end_tag_at_top", "</>", 3, nullptr},
    {"one_end_tag_too_many", "<a/></a>", 3, nullptr},
    {"slash_close_at_top", "<a></a></b>", 3, nullptr},
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
  *os << c.name;
}

class ParseTable : public XmlTest, public ::testing::WithParamInterface<ParseCase>
{};

TEST_P(ParseTable, ResultAndWrittenForm)
{
  const ParseCase& c = GetParam();
  xmlElementPtr doc;
  ASSERT_EQ(parse(c.input, doc), c.result);
  if (c.result != 0) {
    EXPECT_FALSE(doc) << "the output is left unchanged on failure";
    return;
  }
  ASSERT_TRUE(doc);
  MvString tag;
  doc->getTag(tag);
  EXPECT_TRUE(tag.empty());
  const std::string first = written(doc.get());
  if (c.output) {
    EXPECT_EQ(first, c.output);
  }

  // What we write parses again to a tree that writes the same bytes.
  xmlElementPtr again;
  ASSERT_EQ(parse(first, again), 0) << first;
  EXPECT_EQ(written(again.get()), first);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseTable, ::testing::ValuesIn(kParseCases),
                         [](const ::testing::TestParamInfo<ParseCase>& i) {
                           return std::string(i.param.name);
                         });

using Parser = XmlTest;

// Tags with more attributes than the linear scan serves are looked up through an index; every
// tag must start from an empty one, or a few such tags in a row fill it up for good.
TEST_F(Parser, ManyTagsWithManyAttributesEach)
{
  std::string input = "<r>", expected = "<r>";
  for (int tag = 0; tag < 12; ++tag) {
    std::string attrs, kept;
    for (int i = 0; i < 24; ++i) {
      const std::string name = "n" + std::to_string(i);
      const std::string value = std::to_string(tag) + "-" + std::to_string(i);
      attrs += " " + name + "='" + value + "'";
      kept += " " + name + "=\"" + (i == 0 ? std::to_string(tag) + "-last" : value) + "\"";
    }
    input += "<e" + attrs + " n0='" + std::to_string(tag) + "-last'/>";
    expected += "<e" + kept + "/>";
  }
  input += "</r>";
  expected += "</r>";
  xmlElementPtr doc;
  ASSERT_EQ(parse(input, doc), 0);
  EXPECT_EQ(written(doc.get()), expected);
}

TEST_F(Parser, TreeShape)
{
  xmlElementPtr doc;
  ASSERT_EQ(parse("<a>\n  <b>y</b>\n</a>", doc), 0);
  xmlElementPtr a, b;
  ASSERT_TRUE(doc->getChild("a", 0, a.receive()));
  ASSERT_TRUE(a->getChild("b", 0, b.receive()));
  MvString t;
  a->getText(t);
  EXPECT_EQ(str(t), "\n");
  b->getText(t);
  EXPECT_EQ(str(t), "y");
  xmlElementPtr parent;
  ASSERT_TRUE(b->getParent(parent.receive()));
  EXPECT_EQ(parent.get(), a.get());
  ASSERT_TRUE(a->getParent(parent.receive()));
  EXPECT_EQ(parent.get(), doc.get());
  EXPECT_FALSE(doc->getParent(parent.receive()));
}

TEST_F(Parser, AttributeValuesReadBackDecoded)
{
  const struct
  {
    const char* input;
    const char* name;
    std::string value;
  } cases[] = {
      {"<a t='&lt;x&gt;'/>", "t", "<x>"},         {"<a b=1 c='2' d=\"3\" e/>", "e", ""},
      {"<a b=1 c='2' d=\"3\" e/>", "b", "1"},     {"<a x='Fish & Chips'/>", "x", "Fish & Chips"},
      {"<a x='Caf&#233;'/>", "x", "Caf\xE9"},     {"<a x='&#x41;&#66;'/>", "x", "AB"},
      {"<a x='&#0;&#256;'/>", "x", "&#0;&#256;"}, {"<a x=\"it's\"/>", "x", "it's"},
  };
  for (const auto& c : cases) {
    xmlElementPtr doc, a;
    ASSERT_EQ(parse(c.input, doc), 0) << c.input;
    ASSERT_TRUE(doc->getChild("a", 0, a.receive()));
    MvString v;
    ASSERT_TRUE(a->getAttribute(c.name, v)) << c.input;
    EXPECT_EQ(str(v), c.value) << c.input;
  }
}

TEST_F(Parser, ZeroBytesInTextAndValuesSurvive)
{
  const std::string text = BYTES("<a x='1\0002'>x\0y</a>");
  xmlElementPtr doc, a;
  ASSERT_EQ(parse(text, doc), 0);
  ASSERT_TRUE(doc->getChild("a", 0, a.receive()));
  MvString v;
  ASSERT_TRUE(a->getAttribute("x", v));
  EXPECT_EQ(str(v), BYTES("1\0002"));
  a->getText(v);
  EXPECT_EQ(str(v), BYTES("x\0y"));
  EXPECT_EQ(written(doc.get()), BYTES("<a x=\"1\0002\">x\0y</a>"));
}

TEST_F(Parser, ReadsFromTheStreamPositionToItsEnd)
{
  MvStringStream in;
  in << "xx<a/>";
  char c;
  in.get(c);
  in.get(c);
  xmlElementPtr doc;
  ASSERT_EQ(xmlParser::parseText(in, doc.receive()), 0);
  EXPECT_EQ(written(doc.get()), "<a/>");
  EXPECT_TRUE(in.eof());
  EXPECT_EQ(in.tellg(), 6u);
}

std::string nested(unsigned depth)
{
  std::string s;
  s.reserve(depth * 7);
  for (unsigned i = 0; i < depth; ++i)
    s += "<e>";
  for (unsigned i = 0; i < depth; ++i)
    s += "</e>";
  return s;
}

TEST_F(Parser, DepthBound)
{
  xmlElementPtr doc;
  ASSERT_EQ(parse(nested(XML_MAX_DEPTH), doc), 0);
  EXPECT_EQ(written(doc.get()), nested(XML_MAX_DEPTH - 1).insert((XML_MAX_DEPTH - 1) * 3, "<e/>"));

  xmlElementPtr deeper;
  EXPECT_EQ(parse(nested(XML_MAX_DEPTH + 1), deeper), 1);
  EXPECT_FALSE(deeper);
  EXPECT_EQ(parse("<a/>" + nested(XML_MAX_DEPTH + 1), deeper), 1);
}

TEST_F(Parser, MillionNestedElementsFailCleanly)
{
  std::string opens;
  for (int i = 0; i < 1000000; ++i)
    opens += "<e>";
  xmlElementPtr doc;
  EXPECT_EQ(parse(opens, doc), 1);
  EXPECT_EQ(parse(opens + "</e>", doc), 1);
  EXPECT_FALSE(doc);
}

// Documents far larger than a parse's first chunk, whose tree grows at one rate and then at
// another (the parse sizes its later chunks from the rate so far): every byte lands in the tree.
TEST_F(Parser, LargeDocumentsOfChangingDensityAreWhole)
{
  std::string small;
  for (int i = 0; i < 40000; ++i)
    small += "<e a=\"" + std::to_string(i) + "\"/>";
  const std::string text(300000, 't');
  const std::string value(200000, 'v');
  const std::string shapes[] = {
      "<r>" + small + "<big>" + text + "</big></r>",
      "<r><big>" + text + "</big>" + small + "</r>",
      "<r>" + small + "<big v=\"" + value + "\"/>" + small + "</r>",
  };
  for (const std::string& doc : shapes) {
    xmlElementPtr parsed;
    ASSERT_EQ(parse(doc, parsed), 0);
    EXPECT_TRUE(written(parsed.get()) == doc) << doc.size();
  }
}

TEST_F(Parser, FailureAfterLargeTreeReleasesIt)
{
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "<r a='1' b='2'><c>t</c><d x=y/></r>";
  xmlElementPtr doc;
  ASSERT_EQ(parse(text, doc), 0);
  doc = nullptr;
  EXPECT_EQ(parse(text + "<a", doc), 2);
  EXPECT_EQ(parse(text + "</a>", doc), 3);
  EXPECT_EQ(parse(text + "<!a>", doc), 1);
}

TEST(XmlTab, IndexAgreesWithRowScanForEveryStateAndByte)
{
  for (int32_t state = -2; state <= XML_MAX_STATE + 3; ++state)
    for (int b = 0; b < 256; ++b) {
      const char c = static_cast<char>(b);
      ASSERT_EQ(xmlParser::getTabEntry(xmlTable, state, c), xmlScanTabEntry(xmlTable, state, c))
          << "state " << state << " byte " << b;
    }
}

TEST(XmlTab, TableShape)
{
  EXPECT_EQ(XML_TABLE_ROWS, 46);
  const xmlTabEntry& last = xmlTable[XML_TABLE_ROWS - 1];
  EXPECT_EQ(last.state, 0);
  EXPECT_EQ(last.mask, 0);
  EXPECT_EQ(last.action, XML_ACT_APPEND);
  for (int i = 0; i < XML_TABLE_ROWS - 1; ++i)
    EXPECT_NE(xmlTable[i].state, 0) << "row " << i + 1;
  // Rows are grouped by state in ascending order.
  for (int i = 1; i < XML_TABLE_ROWS - 1; ++i)
    EXPECT_LE(xmlTable[i - 1].state, xmlTable[i].state) << "row " << i + 1;
}

TEST(XmlTab, Symbols)
{
  const struct
  {
    int32_t symbol;
    const char* bytes;
  } cases[] = {
      {XML_SYM_OPEN, "<"},
      {XML_SYM_EQUALS, "="},
      {XML_SYM_SLASH, "/"},
      {XML_SYM_CLOSE, ">"},
      {XML_SYM_DQUOTE, "\""},
      {XML_SYM_SQUOTE, "'"},
      {XML_SYM_SPACE, "\t\n\r "},
      {XML_SYM_NAME, "AZaz09.-_"},
      {XML_SYM_OTHER, ":?!&;#\x01\x0B\x0C\x7F\x80\xFF"},
  };
  for (const auto& c : cases)
    for (const char* p = c.bytes; *p; ++p)
      EXPECT_EQ(xmlParser::getSymbol(*p), c.symbol) << "byte " << static_cast<int>(*p);
  EXPECT_EQ(xmlParser::getSymbol('\0'), XML_SYM_OTHER);
  int space = 0, name = 0;
  for (int b = 0; b < 256; ++b) {
    space += xmlParser::isSpace(static_cast<char>(b));
    name += xmlParser::isAlnum(static_cast<char>(b));
  }
  EXPECT_EQ(space, 4);
  EXPECT_EQ(name, 26 + 26 + 10 + 3);
}

// The whole-name check the store and the messages use agrees with the parser's class of every
// byte, and refuses the empty name.
TEST(XmlTab, NameCheckFollowsTheParsersNameClass)
{
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    EXPECT_EQ(xmlIsName(&c, 1), xmlParser::getSymbol(c) == XML_SYM_NAME) << "byte " << b;
  }
  const struct
  {
    const char* text;
    size_t length;
    bool name;
  } cases[] = {
      {"TBX.VTAUTOURL", 13, true}, {"a-b_c", 5, true}, {"", 0, false},    {nullptr, 0, false},
      {"a b", 3, false},           {"a\0b", 3, false}, {"a=b", 3, false}, {"\xe9t\xe9", 3, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(xmlIsName(c.text, c.length), c.name) << (c.text ? c.text : "(null)");
}

}  // namespace
