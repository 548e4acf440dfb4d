/*
 * xmlParser.h - builds a tree of xmlElement objects from XML text.
 *
 * A table-driven scanner (the rows are in xmltab.h) for the subset of XML this system writes and
 * the host sends: nested elements, attributes in single or double quotes or unquoted, empty-element
 * tags and text. Declarations, processing instructions, comments, CDATA, DOCTYPE and namespaces
 * make the parse fail.
 */
#ifndef XMLPARSER_H
#define XMLPARSER_H

#include "mvobject.h"
#include "mvstring.h"
#include "xmltab.h"

class xmlElement;
class xmlArena;

/* Deepest nesting of elements parseText accepts; one more is refused with result 1. Bounds the
 * work and the stack that any later walk over a parsed tree can need. */
enum
{
  XML_MAX_DEPTH = 256
};

class xmlParser : public MvRefCounter
{
public:
  xmlParser() = default;
  ~xmlParser() override = default;

  /* A new element tagged `tag` (the name is not checked), without text, attributes, children or
   * parent, stored in *out with one reference for the caller. */
  static void createElement(const MvString& tag, xmlElement** out);

  /* Parses `in` from its read position to its end (the position is left at the end).
   *   0  success: *out receives the document element (empty tag, one reference for the caller),
   *      whose children are the top-level elements of the text
   *   1  a byte the current state has no row for (a declaration, a comment, ':' in a name, '<'
   *      inside a tag, ...), or nesting deeper than XML_MAX_DEPTH
   *   2  the input ends inside a tag, inside a quoted value or with an element still open
   *   3  an end tag when no element is open
   * On failure everything built is released and *out is left unchanged. */
  static long parseText(MvStringStream& in, xmlElement** out);
  /* The same on `length` bytes at `text`, without a stream (no copy of the text is made). */
  static long parseText(const char* text, unsigned length, xmlElement** out);

  static bool isSpace(char c);
  /* True for the bytes a name may hold: ASCII letters and digits, '.', '-' and '_'. */
  static bool isAlnum(char c);
  /* The class of `c`: exactly one of the XML_SYM_* masks. */
  static int32_t getSymbol(char c);
  /* The first row of `table` for `state` whose mask accepts getSymbol(c), or null. For
   * xmlTable this is answered from the index built from its rows. */
  static const xmlTabEntry* getTabEntry(const xmlTabEntry* table, int32_t state, char c);

private:
  class StartTag;
  static xmlElement* newParsed(xmlArena* arena);
  // Parses input[pos, end); `pos` is left where a stream's read position goes.
  static long parse(const char* input, unsigned end, unsigned& pos, xmlElement** out);
  static long parseTree(const char* input, unsigned end, unsigned& pos, xmlElement** out);
};

#endif
