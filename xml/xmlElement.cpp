/*
 * xmlElement.cpp - the element tree, its attributes and its text form.
 */
#include "xmlElement.h"
#include "xmlCodec.h"
#include "xmlElementEnum.h"
#include "xmlStore.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// Tags compare as strings do: length first, then byte by byte as signed characters.
int compareTags(const char* a, unsigned an, const char* b, unsigned bn)
{
  if (an != bn)
    return an < bn ? -1 : 1;
  for (unsigned i = 0; i < an; ++i)
    if (a[i] != b[i])
      return static_cast<signed char>(a[i]) < static_cast<signed char>(b[i]) ? -1 : 1;
  return 0;
}

}  // namespace

MV_IMPLEMENT_CLASS(xmlElement, MvFindable)
MV_IMPLEMENT_CLASS(xmlElementPtr, MvPtr)

static_assert(sizeof(xmlElement) <= 72, "an element of a parsed document must stay small");

xmlElement::xmlElement()
    : m_Arena(nullptr), m_Parent(nullptr), m_Last(nullptr), m_Next(nullptr), m_Block(nullptr),
      m_Text(nullptr)
{}

xmlElement::xmlElement(const MvString& tag) : xmlElement()
{
  initBlock(tag.c_str(), tag.size());
}

xmlElement::xmlElement(MvString&& tag) : xmlElement()
{
  initBlock(tag.c_str(), tag.size());
}

xmlElement::xmlElement(xmlArena* arena) : xmlElement()
{
  m_Arena = arena;
  arena->addRef();
}

xmlElement::~xmlElement()
{
  releaseChildren();
  if (m_Block && (m_Flags & kOwnBlock))
    xmlFreeOwnBlock(xmlOwnBlock::of(m_Block));
  if (m_Text && (m_Flags & kOwnText))
    ::operator delete(m_Text);
  if (m_Arena)
    m_Arena->release();
}

void xmlElement::initBlock(const char* tag, unsigned tagLength)
{
  // Room for the attributes of a typical message, so that setting them seldom moves the block.
  xmlOwnBlock* own = xmlNewOwnBlock(tagLength + 256, nullptr);
  own->block.tagLength = tagLength;
  own->block.used = tagLength;
  if (tagLength)
    std::memcpy(own->block.data(), tag, tagLength);
  m_Block = &own->block;
  m_Flags |= kOwnBlock;
}

const char* xmlElement::tagData() const
{
  return m_Block ? m_Block->data() : "";
}

unsigned xmlElement::tagLength() const
{
  return m_Block ? m_Block->tagLength : 0;
}

xmlElement* xmlElement::firstChild() const
{
  return m_Last ? m_Last->m_Next : nullptr;
}

xmlElement* xmlElement::nextChild(const xmlElement* child) const
{
  return child == m_Last ? nullptr : child->m_Next;
}

void xmlElement::appendChild(xmlElement* child)
{
  if (m_Last) {
    child->m_Next = m_Last->m_Next;
    m_Last->m_Next = child;
  } else {
    child->m_Next = child;
  }
  m_Last = child;
}

void xmlElement::unlinkChild(xmlElement* child, xmlElement* prev)
{
  if (child->m_Next == child) {
    m_Last = nullptr;
  } else {
    prev->m_Next = child->m_Next;
    if (m_Last == child)
      m_Last = prev;
  }
  child->m_Next = nullptr;
}

// Destroying an element would destroy its children from inside its destructor, and theirs from
// inside theirs: a recursion as deep as the tree. Instead the children are put on a list, linked
// through their own sibling pointers (no allocation, so nothing can fail), and let go one at a
// time; a child whose last reference is ours first hands its own children to the list, so that
// each destructor runs with nothing left below it. Children someone else still holds survive
// with their subtrees, their parent pointer reset.
void xmlElement::releaseChildren() noexcept
{
  if (!m_Last)
    return;
  xmlElement* pending = m_Last->m_Next;  // the first child; the ring is cut after the last
  m_Last->m_Next = nullptr;
  m_Last = nullptr;
  while (pending) {
    xmlElement* child = pending;
    pending = child->m_Next;
    child->m_Next = nullptr;
    child->m_Parent = nullptr;  // its parent is the element being let go, or was
    if (child->refCount() == 1 && child->m_Last) {
      xmlElement* first = child->m_Last->m_Next;
      child->m_Last->m_Next = pending;
      pending = first;
      child->m_Last = nullptr;
    }
    child->release();
  }
}

bool xmlElement::operator<(const MvFindable& o) const
{
  if (o.isInstanceOf("xmlElement")) {
    const xmlElement& e = static_cast<const xmlElement&>(o);
    return compareTags(tagData(), tagLength(), e.tagData(), e.tagLength()) < 0;
  }
  return MvString(tagData(), tagLength()) < o;
}

bool xmlElement::operator==(const MvFindable& o) const
{
  if (o.isInstanceOf("xmlElement")) {
    const xmlElement& e = static_cast<const xmlElement&>(o);
    return compareTags(tagData(), tagLength(), e.tagData(), e.tagLength()) == 0;
  }
  return MvString(tagData(), tagLength()) == o;
}

bool xmlElement::setAttribute(const MvString& name, const MvString& value)
{
  // Most values hold nothing to encode: they are stored as they are, without a copy.
  const char* v = value.c_str();
  bool plain = true;
  for (unsigned i = 0; plain && i < value.size(); ++i)
    plain = v[i] != '"' && v[i] != '&' && v[i] != '\'' && v[i] != '<' && v[i] != '>';
  if (plain) {
    setStoredAttribute(name.c_str(), name.size(), v, value.size());
    return true;
  }
  MvString encoded;
  XMLEncode(value, encoded);
  setStoredAttribute(name.c_str(), name.size(), encoded.c_str(), encoded.size());
  return true;
}

// Everything that can fail (a larger block) happens before the element changes.
void xmlElement::setStoredAttribute(const char* name, unsigned nameLength, const char* value,
                                    unsigned valueLength)
{
  if (!m_Block)
    initBlock("", 0);
  const bool own = (m_Flags & kOwnBlock) != 0;
  const uint32_t off = xmlFindAttribute(m_Block, own, name, nameLength);
  uint64_t needed = m_Block->used;
  xmlAttribute old{};
  if (off != XML_NOT_FOUND) {
    old = xmlAttributeAt(m_Block, off);
    if (old.valueLength == valueLength) {
      // In place, whoever holds the block: its bytes are this element's alone.
      if (valueLength)
        std::memcpy(m_Block->data() + off + 8 + nameLength, value, valueLength);
      return;
    }
    needed += valueLength;
    needed -= old.valueLength;
  } else {
    needed += 8ull + nameLength + valueLength;
  }
  if (needed > 0xFFFFFFF0u)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  if (!own || xmlOwnBlock::of(m_Block)->capacity < needed) {
    // Room for the block as it is too: a shorter value is copied before it is put in.
    const uint64_t size = needed > m_Block->used ? needed : m_Block->used;
    const uint64_t grown = size + size / 2 + 64;
    xmlOwnBlock* fresh =
        xmlNewOwnBlock(static_cast<uint32_t>(grown > 0xFFFFFFF0u ? size : grown), m_Block);
    if (own) {
      xmlOwnBlock* previous = xmlOwnBlock::of(m_Block);
      fresh->index = previous->index;  // the offsets stay: the index moves along
      fresh->indexMask = previous->indexMask;
      previous->index = nullptr;
      xmlFreeOwnBlock(previous);
    }
    m_Block = &fresh->block;
    m_Flags |= kOwnBlock;
  }
  xmlOwnBlock* block = xmlOwnBlock::of(m_Block);
  char* data = m_Block->data();
  if (off != XML_NOT_FOUND) {
    const uint32_t tail = off + old.size();
    std::memmove(data + off + 8 + nameLength + valueLength, data + tail, m_Block->used - tail);
    xmlStore32(data + off + 4, valueLength);
    if (valueLength)
      std::memcpy(data + off + 8 + nameLength, value, valueLength);
    m_Block->used = static_cast<uint32_t>(needed);
    xmlDropIndex(block);  // the attributes after this one moved
    return;
  }
  char* p = data + m_Block->used;
  xmlStore32(p, nameLength);
  xmlStore32(p + 4, valueLength);
  if (nameLength)
    std::memcpy(p + 8, name, nameLength);
  if (valueLength)
    std::memcpy(p + 8 + nameLength, value, valueLength);
  const uint32_t at = m_Block->used;
  m_Block->used = static_cast<uint32_t>(needed);
  ++m_Block->count;
  if (block->index) {
    if (2 * m_Block->count + 2 > block->indexMask + 1)
      xmlDropIndex(block);  // rebuilt larger at the next lookup
    else
      xmlIndexInsert(block->index, block->indexMask, m_Block, at);
  }
}

bool xmlElement::getAttribute(const MvString& name, MvString& value) const
{
  if (!m_Block)
    return false;
  const uint32_t off =
      xmlFindAttribute(m_Block, (m_Flags & kOwnBlock) != 0, name.c_str(), name.size());
  if (off == XML_NOT_FOUND)
    return false;
  const xmlAttribute a = xmlAttributeAt(m_Block, off);
  xmlDecodeBytes(a.value, a.valueLength, value);
  return true;
}

void xmlElement::getAttributeNames(MvString& names) const
{
  if (!m_Block)
    return;
  uint32_t off = m_Block->tagLength;
  for (uint32_t i = 0; i < m_Block->count; ++i) {
    const xmlAttribute a = xmlAttributeAt(m_Block, off);
    off += a.size();
    names.append(a.name, a.nameLength);
    names.append("", 1);
  }
}

void xmlElement::insertChild(xmlElement* child)
{
  child->addRef();
  if (xmlElement* old = child->m_Parent) {
    // Moved from another parent (or within this one): that parent lets it go first.
    xmlElement* prev = old->m_Last;
    while (prev->m_Next != child)
      prev = prev->m_Next;
    old->unlinkChild(child, prev);
    child->m_Parent = nullptr;
    child->release();
  }
  appendChild(child);
  child->m_Parent = this;
}

bool xmlElement::getChild(const MvString& tag, long index, xmlElement** out)
{
  const char* t = tag.c_str();
  const unsigned n = tag.size();
  xmlElement* found = nullptr;
  long seen = 0;
  for (xmlElement* c = firstChild(); c; c = nextChild(c)) {
    if (compareTags(c->tagData(), c->tagLength(), t, n) != 0)
      continue;
    if (index < 0)
      throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    if (seen++ == index) {
      found = c;
      break;
    }
  }
  if (seen == 0)
    return false;
  if (!found)
    throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
  found->addRef();
  *out = found;
  return true;
}

bool xmlElement::removeChild(const MvString& tag, long index)
{
  if (index < 0 || !m_Last)
    return false;
  const char* t = tag.c_str();
  const unsigned n = tag.size();
  xmlElement* prev = m_Last;
  long seen = 0;
  for (xmlElement* c = firstChild(); c; prev = c, c = nextChild(c)) {
    if (compareTags(c->tagData(), c->tagLength(), t, n) != 0 || seen++ != index)
      continue;
    unlinkChild(c, prev);
    if (c->m_Parent == this)
      c->m_Parent = nullptr;
    c->release();
    return true;
  }
  return false;
}

bool xmlElement::getParent(xmlElement** out)
{
  if (!m_Parent)
    return false;
  m_Parent->addRef();
  *out = m_Parent;
  return true;
}

void xmlElement::getText(MvString& out) const
{
  if (!m_Text)
    out.clear();
  else
    out.assign(m_Text + 4, xmlLoad32(m_Text));
}

void xmlElement::setText(const MvString& text)
{
  char* fresh = nullptr;
  if (!text.empty()) {
    fresh = static_cast<char*>(::operator new(4 + size_t(text.size()), std::nothrow));
    if (!fresh)
      throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    xmlStore32(fresh, text.size());
    std::memcpy(fresh + 4, text.c_str(), text.size());
  }
  if (m_Text && (m_Flags & kOwnText))
    ::operator delete(m_Text);
  m_Text = fresh;
  m_Flags |= kOwnText;
}

bool xmlElement::getTag(MvString& out) const
{
  if (m_Block)
    out.assign(m_Block->data(), m_Block->tagLength);
  else
    out.clear();
  return true;
}

void xmlElement::enumChildren(const MvString& tag, xmlElementEnum** out)
{
  xmlElementEnum* created = new (std::nothrow) xmlElementEnum;
  if (!created)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  xmlEnumPtr en(created);
  en->create(this, tag);
  *out = static_cast<xmlElementEnum*>(en.detach());
}

namespace {

// Writes the start of `e` (steps 1 to 3 of the compact form); answers whether content was
// written, which decides between "</T>" and "/>" at the end.
bool writeStart(const xmlBlock* block, const char* text, bool hasChildren, MvStringStream& out)
{
  const bool hasTag = block && block->tagLength != 0;
  if (hasTag) {
    out << '<';
    out.write(block->data(), block->tagLength);
    uint32_t off = block->tagLength;
    for (uint32_t i = 0; i < block->count; ++i) {
      const xmlAttribute a = xmlAttributeAt(block, off);
      off += a.size();
      out << ' ';
      out.write(a.name, a.nameLength);
      if (a.valueLength == 0)
        out.write("=\"\"", 3);
      else
        out.write("=\"", 2).write(a.value, a.valueLength) << '"';
    }
  }
  bool content = false;
  if (text) {
    if (hasTag)
      out << '>';
    out.write(text + 4, xmlLoad32(text));
    content = true;
  }
  if (hasChildren && !content) {
    if (hasTag)
      out << '>';
    content = true;
  }
  return content;
}

void writeEnd(const xmlBlock* block, bool content, MvStringStream& out)
{
  if (!block || block->tagLength == 0)
    return;
  if (content)
    out.write("</", 2).write(block->data(), block->tagLength) << '>';
  else
    out.write("/>", 2);
}

}  // namespace

// Walks the tree with an explicit stack, so that no depth of tree can exhaust the call stack.
bool xmlElement::toStream(MvStringStream& out) const
{
  struct Frame
  {
    const xmlElement* element;
    const xmlElement* next;  // the next child to write
    bool content;
  };
  std::vector<Frame> stack;
  auto enter = [&](const xmlElement* e) {
    const xmlElement* first = e->firstChild();
    const bool content = writeStart(e->m_Block, e->m_Text, first != nullptr, out);
    stack.push_back(Frame{e, first, content});
  };
  try {
    enter(this);
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next) {
        const xmlElement* child = top.next;
        top.next = top.element->nextChild(child);
        enter(child);  // may move the frames: `top` is not used after this
      } else {
        writeEnd(top.element->m_Block, top.content, out);
        stack.pop_back();
      }
    }
  } catch (const std::bad_alloc&) {
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  }
  return true;
}
