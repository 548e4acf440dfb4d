/*
 * xmltab.cpp - the parser's transition table, its character classes and the O(1) row index.
 */
#include "xmltab.h"
#include "xmlParser.h"

#include <cstddef>

namespace {

constexpr int32_t ANY_BUT_OPEN = static_cast<int32_t>(0xFFFFFFFDu);
constexpr int32_t ANY_BUT_SQUOTE = static_cast<int32_t>(0xFFFFFFEFu);
constexpr int32_t ANY_BUT_DQUOTE = static_cast<int32_t>(0xFFFFFFDFu);
constexpr int32_t ANY_BUT_NAME = static_cast<int32_t>(0xFFFFFFFBu);

}  // namespace

// States: 1 content, 2 after '<', 3 start-tag name, 4 between attributes, 5 attribute name,
// 6 after a name and white space, 7 after '=', 8 in '...', 9 in "...", 10 before an end-tag
// name, 14 end-tag name, 15 after it, 18 at the '/' of "/>" with the element made, 19 a name
// after a valueless attribute, 20 the '/' after one, 25 the '>' after one, 30 unquoted value.
// clang-format off
constexpr xmlTabEntry xmlTable[XML_TABLE_ROWS] = {
    /*  1 */ {  1, XML_SYM_OPEN,   1,  2, XML_ACT_TEXT },
    /*  2 */ {  1, ANY_BUT_OPEN,   1,  1, XML_ACT_APPEND },
    /*  3 */ {  2, XML_SYM_SPACE,  1,  2, XML_ACT_NONE },
    /*  4 */ {  2, XML_SYM_NAME,   1,  3, XML_ACT_APPEND },
    /*  5 */ {  2, XML_SYM_SLASH,  1, 10, XML_ACT_CLOSE },
    /*  6 */ {  3, XML_SYM_SPACE,  1,  4, XML_ACT_ELEMENT },
    /*  7 */ {  3, XML_SYM_NAME,   1,  3, XML_ACT_APPEND },
    /*  8 */ {  3, XML_SYM_SLASH,  0, 18, XML_ACT_ELEMENT },
    /*  9 */ {  3, XML_SYM_CLOSE,  1,  1, XML_ACT_ELEMENT },
    /* 10 */ {  4, XML_SYM_SPACE,  1,  4, XML_ACT_NONE },
    /* 11 */ {  4, XML_SYM_NAME,   1,  5, XML_ACT_APPEND },
    /* 12 */ {  4, XML_SYM_SLASH,  1, 10, XML_ACT_CLOSE },
    /* 13 */ {  4, XML_SYM_CLOSE,  1,  1, XML_ACT_NONE },
    /* 14 */ {  5, XML_SYM_SPACE,  1,  6, XML_ACT_ATTRNAME },
    /* 15 */ {  5, XML_SYM_NAME,   1,  5, XML_ACT_APPEND },
    /* 16 */ {  5, XML_SYM_EQUALS, 1,  7, XML_ACT_ATTRNAME },
    /* 17 */ {  5, XML_SYM_SLASH,  0, 20, XML_ACT_ATTRNAME },
    /* 18 */ {  5, XML_SYM_CLOSE,  0, 25, XML_ACT_ATTRNAME },
    /* 19 */ {  6, XML_SYM_SPACE,  1,  6, XML_ACT_NONE },
    /* 20 */ {  6, XML_SYM_NAME,   0, 19, XML_ACT_ATTRVALUE },
    /* 21 */ {  6, XML_SYM_EQUALS, 1,  7, XML_ACT_NONE },
    /* 22 */ {  6, XML_SYM_SLASH,  0, 18, XML_ACT_ATTRVALUE },
    /* 23 */ {  6, XML_SYM_CLOSE,  1,  1, XML_ACT_ATTRVALUE },
    /* 24 */ {  7, XML_SYM_SPACE,  1,  7, XML_ACT_NONE },
    /* 25 */ {  7, XML_SYM_SQUOTE, 1,  8, XML_ACT_NONE },
    /* 26 */ {  7, XML_SYM_DQUOTE, 1,  9, XML_ACT_NONE },
    /* 27 */ {  7, XML_SYM_NAME,   1, 30, XML_ACT_APPEND },
    /* 28 */ {  8, XML_SYM_SQUOTE, 1,  4, XML_ACT_ATTRVALUE },
    /* 29 */ {  8, ANY_BUT_SQUOTE, 1,  8, XML_ACT_APPEND },
    /* 30 */ {  9, XML_SYM_DQUOTE, 1,  4, XML_ACT_ATTRVALUE },
    /* 31 */ {  9, ANY_BUT_DQUOTE, 1,  9, XML_ACT_APPEND },
    /* 32 */ { 10, XML_SYM_SPACE,  1, 10, XML_ACT_NONE },
    /* 33 */ { 10, XML_SYM_NAME,   1, 14, XML_ACT_NONE },
    /* 34 */ { 10, XML_SYM_CLOSE,  1,  1, XML_ACT_NONE },
    /* 35 */ { 14, XML_SYM_SPACE,  1, 15, XML_ACT_NONE },
    /* 36 */ { 14, XML_SYM_NAME,   1, 14, XML_ACT_NONE },
    /* 37 */ { 14, XML_SYM_CLOSE,  1,  1, XML_ACT_NONE },
    /* 38 */ { 15, XML_SYM_SPACE,  1, 15, XML_ACT_NONE },
    /* 39 */ { 15, XML_SYM_CLOSE,  1,  1, XML_ACT_NONE },
    /* 40 */ { 18, XML_SYM_SLASH,  1, 10, XML_ACT_CLOSE },
    /* 41 */ { 19, XML_SYM_NAME,   1,  5, XML_ACT_APPEND },
    /* 42 */ { 20, XML_SYM_SLASH,  0, 18, XML_ACT_ATTRVALUE },
    /* 43 */ { 25, XML_SYM_CLOSE,  1,  1, XML_ACT_ATTRVALUE },
    /* 44 */ { 30, XML_SYM_NAME,   1, 30, XML_ACT_APPEND },
    /* 45 */ { 30, ANY_BUT_NAME,   0,  4, XML_ACT_ATTRVALUE },
    /* 46 */ {  0, 0,              0,  0, XML_ACT_APPEND },  // end of table, never matched
};
// clang-format on

bool xmlParser::isSpace(char c)
{
  return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool xmlParser::isAlnum(char c)
{
  return xmlIsNameChar(c);
}

bool xmlIsName(const char* text, size_t length)
{
  if (text == nullptr || length == 0)
    return false;
  for (size_t i = 0; i < length; ++i)
    if (!xmlIsNameChar(text[i]))
      return false;
  return true;
}

namespace {

// getSymbol's decision, usable at compile time; the order of the tests is the classes' order.
constexpr int32_t symbolOf(char c)
{
  constexpr char kMarks[] = "<=/>\"'";
  constexpr int32_t kMarkClasses[] = {XML_SYM_OPEN,  XML_SYM_EQUALS, XML_SYM_SLASH,
                                      XML_SYM_CLOSE, XML_SYM_DQUOTE, XML_SYM_SQUOTE};
  for (size_t i = 0; i + 1 < sizeof kMarks; ++i)
    if (c == kMarks[i])
      return kMarkClasses[i];
  if (c == '\t' || c == '\n' || c == '\r' || c == ' ')
    return XML_SYM_SPACE;
  if (xmlIsNameChar(c))
    return XML_SYM_NAME;
  return XML_SYM_OTHER;
}

constexpr const xmlTabEntry* scan(const xmlTabEntry* table, int32_t state, int32_t sym)
{
  for (const xmlTabEntry* row = table; row->state != 0; ++row)
    if (row->state == state && (row->mask & sym) != 0)
      return row;
  return nullptr;
}

// The nine classes, each one bit of the masks.
constexpr int32_t kSymbols[] = {XML_SYM_SPACE,  XML_SYM_OPEN,   XML_SYM_NAME,
                                XML_SYM_EQUALS, XML_SYM_SQUOTE, XML_SYM_DQUOTE,
                                XML_SYM_SLASH,  XML_SYM_CLOSE,  XML_SYM_OTHER};
constexpr int kSymbolCount = sizeof(kSymbols) / sizeof(kSymbols[0]);
static_assert(kSymbolCount == XML_SYMBOL_COUNT, "one index column per class");

constexpr int classIndex(int32_t sym)
{
  for (int i = 0; i < kSymbolCount; ++i)
    if (kSymbols[i] == sym)
      return i;
  return -1;
}

// For each state and class, the position of the first matching row (or -1): what the scan
// answers, computed once from the rows.
constexpr xmlTabIndex buildIndex()
{
  xmlTabIndex ix{};
  for (int b = 0; b < 256; ++b)
    ix.classOf[b] = static_cast<unsigned char>(classIndex(symbolOf(static_cast<char>(b))));
  for (int s = 0; s <= XML_MAX_STATE; ++s)
    for (int k = 0; k < kSymbolCount; ++k) {
      const xmlTabEntry* row = s == 0 ? nullptr : scan(xmlTable, s, kSymbols[k]);
      ix.rowOf[s][k] = static_cast<signed char>(row ? row - xmlTable : -1);
    }
  return ix;
}

constexpr bool statesInRange()
{
  for (const xmlTabEntry& row : xmlTable)
    if (row.state < 0 || row.state > XML_MAX_STATE || row.next < 0 || row.next > XML_MAX_STATE)
      return false;
  return true;
}

// The parser keeps the token as a slice of its input; that holds only while every row that
// appends also consumes (so appended bytes are adjacent) and a slice can be cut from the input.
constexpr bool appendsConsume()
{
  for (const xmlTabEntry& row : xmlTable)
    if (row.state != 0 && row.action == XML_ACT_APPEND && row.consume != 1)
      return false;
  return true;
}

static_assert(xmlTable[XML_TABLE_ROWS - 1].state == 0, "the last row ends the table");
static_assert(statesInRange(), "a state beyond XML_MAX_STATE needs a larger index");
static_assert(appendsConsume(), "xmlParser::parseText keeps the token as a slice of the input");

}  // namespace

constexpr xmlTabIndex xmlTableIndex = buildIndex();

int32_t xmlParser::getSymbol(char c)
{
  return symbolOf(c);
}

const xmlTabEntry* xmlScanTabEntry(const xmlTabEntry* table, int32_t state, char c)
{
  return scan(table, state, symbolOf(c));
}

const xmlTabEntry* xmlParser::getTabEntry(const xmlTabEntry* table, int32_t state, char c)
{
  if (table != xmlTable || state <= 0 || state > XML_MAX_STATE)
    return scan(table, state, symbolOf(c));
  return xmlIndexedTabEntry(state, static_cast<unsigned char>(c));
}
