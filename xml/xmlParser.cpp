/*
 * xmlParser.cpp - the table-driven parser.
 *
 * The input is walked in place: the token is the slice of input bytes appended since it was last
 * emptied (every appending row consumes its byte, checked in xmltab.cpp, so those bytes are
 * adjacent), which saves a copy per byte. A row that appends and stays in its state is followed
 * through the whole run of bytes it accepts at once; the result is the same as one byte at a time.
 */
#include "xmlParser.h"
#include "xmlElement.h"
#include "xmlStore.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

bool needsRecoding(const char* s, unsigned n)
{
  for (unsigned i = 0; i < n; ++i) {
    char c = s[i];
    if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'')
      return true;
  }
  return false;
}

template <class... Args>
xmlElement* newElement(Args&&... args)
{
  xmlElement* e = new (std::nothrow) xmlElement(std::forward<Args>(args)...);
  if (!e)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  return e;
}

// Holds the parse's own reference to its arena.
struct ArenaHold
{
  xmlArena* arena;
  ~ArenaHold()
  {
    arena->follow(nullptr, 0);
    arena->release();
  }
};

}  // namespace

// The attributes of the start tag being read, gathered before they go into the element's block
// at once: names and values are slices of the input, or of `recoded` for a value that had to be
// decoded and encoded again. A repeated name keeps its first place and takes the last value.
class xmlParser::StartTag
{
public:
  explicit StartTag(const char* input) : m_Input(input) {}
  ~StartTag() { delete[] m_Index; }

  void begin(xmlElement* e, unsigned tagStart, unsigned tagLength)
  {
    m_Element = e;
    m_TagStart = tagStart;
    m_TagLength = tagLength;
    m_Attributes.clear();
    m_Recoded.clear();
    m_Bytes = tagLength;
    // The index table is kept for the next tag with many attributes, but not its entries: left
    // in, they would fill it up over a few such tags, and inserting would then never end.
    if (m_Indexed != 0)
      std::memset(m_Index, 0, m_Slots * sizeof *m_Index);
    m_Indexed = 0;
  }

  void add(unsigned nameStart, unsigned nameLength, unsigned valueStart, unsigned valueLength)
  {
    Attribute a{nameStart, nameLength, valueStart, valueLength, false};
    if (needsRecoding(m_Input + valueStart, valueLength)) {
      MvString decoded, encoded;
      XMLDecode(MvString(m_Input + valueStart, valueLength), decoded);
      XMLEncode(decoded, encoded);
      a.valueStart = static_cast<unsigned>(m_Recoded.size());
      a.valueLength = encoded.size();
      a.recoded = true;
      m_Recoded.append(encoded.c_str(), encoded.size());
    }
    // Otherwise decoding and encoding again would give back these very bytes.
    const uint32_t found = find(m_Input + nameStart, nameLength);
    if (found != kNone) {
      Attribute& old = m_Attributes[found];
      m_Bytes = m_Bytes - old.valueLength + a.valueLength;
      old.valueStart = a.valueStart;
      old.valueLength = a.valueLength;
      old.recoded = a.recoded;
      return;
    }
    m_Attributes.push_back(a);
    m_Bytes += 8ull + nameLength + a.valueLength;
    if (m_Attributes.size() > XML_INDEX_THRESHOLD)
      index(static_cast<uint32_t>(m_Attributes.size() - 1));
  }

  // Gives the element its block, in `arena`; nothing to do when no start tag is open.
  void finish(xmlArena* arena)
  {
    xmlElement* e = m_Element;
    if (!e)
      return;
    if (m_Bytes > 0xFFFFFFF0u)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    char* p = arena->allocate(sizeof(xmlBlock) + m_Bytes, alignof(xmlBlock));
    if (!p)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    xmlBlock* block = reinterpret_cast<xmlBlock*>(p);
    block->tagLength = m_TagLength;
    block->count = static_cast<uint32_t>(m_Attributes.size());
    block->used = static_cast<uint32_t>(m_Bytes);
    char* out = block->data();
    std::memcpy(out, m_Input + m_TagStart, m_TagLength);
    out += m_TagLength;
    for (const Attribute& a : m_Attributes) {
      xmlStore32(out, a.nameLength);
      xmlStore32(out + 4, a.valueLength);
      std::memcpy(out + 8, m_Input + a.nameStart, a.nameLength);
      const char* value = a.recoded ? m_Recoded.data() + a.valueStart : m_Input + a.valueStart;
      if (a.valueLength)
        std::memcpy(out + 8 + a.nameLength, value, a.valueLength);
      out += 8 + a.nameLength + a.valueLength;
    }
    e->m_Block = block;
    m_Element = nullptr;
  }

private:
  struct Attribute
  {
    unsigned nameStart, nameLength, valueStart, valueLength;
    bool recoded;
  };
  static const uint32_t kNone = 0xFFFFFFFFu;

  uint32_t find(const char* name, unsigned n) const
  {
    if (m_Indexed != 0) {
      for (uint32_t slot = xmlNameHash(name, n) & m_Mask; m_Index[slot] != 0;
           slot = (slot + 1) & m_Mask) {
        const Attribute& a = m_Attributes[m_Index[slot] - 1];
        if (a.nameLength == n && std::memcmp(m_Input + a.nameStart, name, n) == 0)
          return m_Index[slot] - 1;
      }
      return kNone;
    }
    for (uint32_t i = 0; i < m_Attributes.size(); ++i) {
      const Attribute& a = m_Attributes[i];
      if (a.nameLength == n && std::memcmp(m_Input + a.nameStart, name, n) == 0)
        return i;
    }
    return kNone;
  }

  // Adds attribute `i` to the index of a tag with many, growing (rebuilding) it as needed.
  void index(uint32_t i)
  {
    if (2 * (i + 1) + 2 > m_Slots) {
      uint32_t slots = m_Slots ? m_Slots : 64;
      while (2 * (i + 1) + 2 > slots)
        slots *= 2;
      uint32_t* table = new uint32_t[slots]();
      delete[] m_Index;
      m_Index = table;
      m_Slots = slots;
      m_Mask = slots - 1;
      m_Indexed = 0;
    }
    for (; m_Indexed <= i; ++m_Indexed) {
      const Attribute& a = m_Attributes[m_Indexed];
      uint32_t slot = xmlNameHash(m_Input + a.nameStart, a.nameLength) & m_Mask;
      while (m_Index[slot] != 0)
        slot = (slot + 1) & m_Mask;
      m_Index[slot] = m_Indexed + 1;
    }
  }

  const char* m_Input;
  xmlElement* m_Element = nullptr;
  unsigned m_TagStart = 0, m_TagLength = 0;
  std::vector<Attribute> m_Attributes;  // kept between tags: its room is reused
  std::string m_Recoded;
  uint64_t m_Bytes = 0;  // of the block after its header
  uint32_t* m_Index = nullptr;
  uint32_t m_Slots = 0, m_Mask = 0;
  uint32_t m_Indexed = 0;  // attributes in the index; 0 while there is none
};

xmlElement* xmlParser::newParsed(xmlArena* arena)
{
  xmlElement* e = new (std::nothrow) xmlElement(arena);
  if (!e)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  return e;
}

void xmlParser::createElement(const MvString& tag, xmlElement** out)
{
  xmlElement* e = newElement(tag);
  e->addRef();
  *out = e;
}

long xmlParser::parseText(MvStringStream& in, xmlElement** out)
{
  const MvString& text = in.str();
  unsigned pos = in.tellg();
  const long result = parse(text.c_str(), text.size(), pos, out);
  in.skipTo(pos);  // as if the parser had read the stream one byte at a time
  return result;
}

long xmlParser::parseText(const char* text, unsigned length, xmlElement** out)
{
  unsigned pos = 0;
  return parse(text, length, pos, out);
}

long xmlParser::parse(const char* input, unsigned end, unsigned& pos, xmlElement** out)
{
  try {
    return parseTree(input, end, pos, out);
  } catch (const std::bad_alloc&) {
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  }
}

long xmlParser::parseTree(const char* input, unsigned end, unsigned& pos, xmlElement** out)
{
  // Chunks about the size of the document (the tree's bytes are mostly its bytes), bounded so
  // that a large one does not ask for its whole size twice at once.
  const size_t size = end > pos ? end - pos : 0;
  xmlArena* arena = xmlArena::create(size + 256 < (256u << 10) ? size + 256 : (256u << 10));
  if (!arena)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  ArenaHold hold{arena};
  arena->follow(&pos, end);

  xmlElementPtr doc(newParsed(arena));  // releases the whole tree on every failure
  xmlElement* current = doc.get();
  unsigned depth = 0;
  StartTag tag(input);

  int32_t state = 1;
  unsigned tokStart = 0, tokLen = 0;    // the token: input[tokStart, tokStart + tokLen)
  unsigned nameStart = 0, nameLen = 0;  // the attribute name, likewise

  while (pos < end) {
    const unsigned char c = static_cast<unsigned char>(input[pos]);
    const xmlTabEntry* row = xmlIndexedTabEntry(state, c);
    if (!row) {
      pos += 1;
      return 1;
    }
    switch (row->action) {
    case XML_ACT_APPEND: {
      if (tokLen == 0)
        tokStart = pos;
      unsigned next = pos + 1;
      if (row->next == state) {
        // The row keeps accepting: take the whole run it accepts.
        while (next < end &&
               xmlIndexedTabEntry(state, static_cast<unsigned char>(input[next])) == row)
          ++next;
      }
      tokLen += next - pos;
      pos = next;
      state = row->next;
      continue;
    }
    case XML_ACT_NONE:
      break;
    case XML_ACT_ELEMENT: {
      if (depth == XML_MAX_DEPTH) {
        pos += row->consume ? 1 : 0;
        return 1;
      }
      tag.finish(arena);
      xmlElement* child = newParsed(arena);
      current->appendChild(child);  // the parent's reference keeps it
      child->addRef();
      child->m_Parent = current;
      current = child;
      tag.begin(child, tokStart, tokLen);
      ++depth;
      break;
    }
    case XML_ACT_ATTRNAME:
      nameStart = tokStart;
      nameLen = tokLen;
      break;
    case XML_ACT_CLOSE:
      tag.finish(arena);
      if (!current->m_Parent) {
        pos += row->consume ? 1 : 0;
        return 3;
      }
      current = current->m_Parent;
      --depth;
      break;
    case XML_ACT_ATTRVALUE:
      tag.add(nameStart, nameLen, tokStart, tokLen);
      break;
    case XML_ACT_TEXT:
      tag.finish(arena);
      if (tokLen != 0) {
        char* text = arena->allocate(4 + size_t(tokLen));
        if (!text)
          throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
        xmlStore32(text, tokLen);
        std::memcpy(text + 4, input + tokStart, tokLen);
        if (current->m_Text && (current->m_Flags & xmlElement::kOwnText))
          ::operator delete(current->m_Text);
        current->m_Text = text;
        current->m_Flags &= ~uint32_t(xmlElement::kOwnText);
      }
      break;
    default:
      break;
    }
    tokLen = 0;
    if (row->consume)
      ++pos;
    state = row->next;
  }

  tag.finish(arena);
  pos = end;
  if (state != 1 || current != doc.get())
    return 2;
  *out = static_cast<xmlElement*>(doc.detach());
  return 0;
}
