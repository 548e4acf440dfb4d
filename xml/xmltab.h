/*
 * xmltab.h - the transition table of the XML parser and its character classes.
 *
 * The parser is one state number, one character class per input byte and the rows of `xmlTable`.
 * The rows are the source of truth; the lookup index in xmltab.cpp is derived from them when the
 * library is compiled, so a change to a row changes the index with it.
 */
#ifndef XMLTAB_H
#define XMLTAB_H

#include <cstddef>
#include <cstdint>

/* Character classes as bit masks (getSymbol answers exactly one). */
// clang-format off
enum : int32_t {
    XML_SYM_SPACE  = 0x1,   /* tab, line feed, carriage return, space */
    XML_SYM_OPEN   = 0x2,   /* '<' */
    XML_SYM_NAME   = 0x4,   /* 'A'-'Z' 'a'-'z' '0'-'9' '.' '-' '_' */
    XML_SYM_EQUALS = 0x8,   /* '=' */
    XML_SYM_SQUOTE = 0x10,  /* the apostrophe */
    XML_SYM_DQUOTE = 0x20,  /* '"' */
    XML_SYM_SLASH  = 0x40,  /* '/' */
    XML_SYM_CLOSE  = 0x80,  /* '>' */
    XML_SYM_OTHER  = 0x100  /* every other byte */
};
// clang-format on

/* The one rule for the bytes of a name (class XML_SYM_NAME): what the parser reads as part of an
 * element or attribute name. */
constexpr bool xmlIsNameChar(char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

/* True when the `length` bytes at `text` are one name as the parser reads it back: not empty,
 * name bytes only. An attribute name that fails this would write a document that no longer parses.
 */
bool xmlIsName(const char* text, size_t length);

/* Tree-building actions of a row. */
// clang-format off
enum : int32_t {
    XML_ACT_NONE      = 0,  /* nothing */
    XML_ACT_APPEND    = 2,  /* append the byte to the token */
    XML_ACT_ELEMENT   = 5,  /* create an element tagged with the token, make it current */
    XML_ACT_ATTRNAME  = 6,  /* attribute name := token */
    XML_ACT_CLOSE     = 7,  /* close the current element (result 3 at the document element) */
    XML_ACT_ATTRVALUE = 8,  /* set the attribute to the decoded token */
    XML_ACT_TEXT      = 9   /* a non-empty token becomes the current element's text */
};
// clang-format on

/* One transition: in `state`, a byte whose class shares a bit with `mask` is consumed (or read
 * again when `consume` is 0), `action` is performed and the parser moves to `next`. */
struct xmlTabEntry
{
  int32_t state; /* 0 ends the table */
  int32_t mask;
  int32_t consume;
  int32_t next;
  int32_t action;
};

/* Number of rows of xmlTable, the end row included. */
enum
{
  XML_TABLE_ROWS = 46
};

extern const xmlTabEntry xmlTable[XML_TABLE_ROWS];

/* Highest state number used by xmlTable. */
enum
{
  XML_MAX_STATE = 30
};

/* The classes in index order; each is one bit of the masks. */
enum
{
  XML_SYMBOL_COUNT = 9
};

/* For each state and class, the position in xmlTable of the first matching row (-1: none), and
 * for each byte its class position. Built at compile time from xmlTable's rows. */
struct xmlTabIndex
{
  signed char rowOf[XML_MAX_STATE + 1][XML_SYMBOL_COUNT];
  unsigned char classOf[256];
};

extern const xmlTabIndex xmlTableIndex;

/* xmlTable's row for (state, c) in O(1); the same row the scan finds. `state` must be one of the
 * table's states (1 to XML_MAX_STATE). */
inline const xmlTabEntry* xmlIndexedTabEntry(int32_t state, unsigned char c)
{
  int row = xmlTableIndex.rowOf[state][xmlTableIndex.classOf[c]];
  return row < 0 ? nullptr : xmlTable + row;
}

/* The first row of `table` (in table order, up to the end row) whose state is `state` and whose
 * mask accepts `c`'s class; null when there is none. Always scans: used for tables other than
 * xmlTable and to check the index against. */
const xmlTabEntry* xmlScanTabEntry(const xmlTabEntry* table, int32_t state, char c);

#endif
