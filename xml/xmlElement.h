/*
 * xmlElement.h - the XML element tree and its text form (with the codecs of xmlCodec.h and the
 * path helpers of xmlPath.h, which callers reach through this header).
 *
 * Ownership: elements are reference counted. A parent holds one reference to each child; a
 * caller that receives an element through an `xmlElement**` (getChild, getParent,
 * xmlElementEnum::getNext, xmlQuerySubElement, the parser) receives one reference of its own and
 * releases it when done: `xmlElementPtr p; e->getChild(tag, 0, p.receive());` does that.
 * The parent pointer holds no reference; it is reset when the parent lets the child go (by
 * removeChild or by being destroyed), so it never points at a freed element.
 *
 * Storage: an element keeps its tag and its attributes in one block (name and value side by
 * side, in first-set order, scanned linearly; a block with many attributes gets a hash index),
 * its text in another, and its children in a list linked through the children themselves. The
 * parser puts the blocks and texts of a whole document in one xmlArena that its elements share,
 * so a parsed tree costs one allocation per element besides the arena, and freeing it little
 * more; an element changed after the parse moves what it changes to blocks of its own. Like the
 * reference counts, the arena's count is not atomic: a tree belongs to one thread at a time.
 */
#ifndef XMLELEMENT_H
#define XMLELEMENT_H

#include <cstddef>

#include <cstdint>

#include "mvobject.h"
#include "mvpair.h"
#include "mvstring.h"
#include "xmlCodec.h"
#include "xmlPath.h"

class xmlElementEnum;
class xmlParser;
class xmlArena;
struct xmlBlock;

class xmlElement : public MvFindable
{
public:
  xmlElement();
  explicit xmlElement(const MvString& tag);
  explicit xmlElement(MvString&& tag);
  ~xmlElement() override;
  xmlElement(const xmlElement&) = delete;
  xmlElement& operator=(const xmlElement&) = delete;

  MV_DECLARE_CLASS(xmlElement);
  /* Order by tag: against another element its tag, against a string that string. */
  bool operator<(const MvFindable& o) const override;
  bool operator==(const MvFindable& o) const override;

  /* Stores XMLEncode(value) under `name`; a name already set keeps its position. Always true. */
  bool setAttribute(const MvString& name, const MvString& value);
  /* False (value unchanged) when there is no attribute `name`; else value := the decoded
   * stored value. */
  bool getAttribute(const MvString& name, MvString& value) const;
  /* Appends each attribute's name followed by a NUL byte to `names`, in order. */
  void getAttributeNames(MvString& names) const;

  /* Makes this element `child`'s parent and appends `child` (with a new reference) after the
   * other children. A child that has a parent already is moved: its old parent lets it go.
   * `child` must not be this element or one of its ancestors: a tree that contains itself is
   * never freed and never finishes writing. */
  void insertChild(xmlElement* child);
  /* False when no child has `tag`; else the index-th of them (0-based) in *out with one
   * reference for the caller. An index not below the number of such children throws
   * MVFC_Exception(TBX_E_OUT_OF_RANGE). The children are scanned in order. */
  bool getChild(const MvString& tag, long index, xmlElement** out);
  /* False when there is no index-th child with `tag`; else the child is let go (its parent
   * pointer reset, this element's reference released), the others keep their order. */
  bool removeChild(const MvString& tag, long index);
  /* False at the top; else the parent in *out with one reference for the caller. */
  bool getParent(xmlElement** out);

  void getText(MvString& out) const;
  /* The text is kept exactly as given: toStream writes it unencoded. */
  void setText(const MvString& text);
  bool getTag(MvString& out) const;

  /* Writes the element in its compact form: no white space is added, attribute values are
   * written as stored (encoded) in double quotes, the text before the children; an element
   * without tag writes only its text and its children. Does not recurse, whatever the depth.
   * Always true. */
  bool toStream(MvStringStream& out) const;

  /* An enumerator over the children, from the first (empty `tag`) or from the first with `tag`,
   * in *out with one reference for the caller. */
  void enumChildren(const MvString& tag, xmlElementEnum** out);

private:
  friend class xmlElementEnum;
  friend class xmlParser;

  enum : uint32_t
  {
    kOwnBlock = 1,  // m_Block is this element's own allocation (else in m_Arena)
    kOwnText = 2,   // m_Text likewise
  };

  // A parsed element: its block and text will be allocated in `arena` (a reference is taken).
  explicit xmlElement(xmlArena* arena);
  // A block of its own holding `tag` and no attributes.
  void initBlock(const char* tag, unsigned tagLength);
  // Stores an already encoded value: a name already set keeps its position.
  void setStoredAttribute(const char* name, unsigned nameLength, const char* value,
                          unsigned valueLength);
  // The first child, and the one after `child` (null at the end).
  xmlElement* firstChild() const;
  xmlElement* nextChild(const xmlElement* child) const;
  void appendChild(xmlElement* child);
  // Unlinks `child`, whose predecessor in the list is `prev` (the last child for the first).
  void unlinkChild(xmlElement* child, xmlElement* prev);
  // Lets every child go without recursing into the subtrees (see the destructor).
  void releaseChildren() noexcept;
  const char* tagData() const;
  unsigned tagLength() const;

  uint32_t m_Flags = 0;  // kOwnBlock, kOwnText
  xmlArena* m_Arena;     // one reference held; null for elements not made by the parser
  xmlElement* m_Parent;  // no reference held
  xmlElement* m_Last;    // the last child; the children form a ring through m_Next
  xmlElement* m_Next;    // the next sibling (the first one after the last)
  xmlBlock* m_Block;     // tag and attributes; null: no tag and none
  char* m_Text;          // a 32-bit length and the bytes; null: no text
};

/* What receive() answers: converts to the `T**` slot a function writes a counted reference to,
 * and hands that reference to the pointer (without counting it again) at the end of the full
 * expression, so `if (e->getChild(tag, 0, p.receive()))` sees `p` set inside the `if`. */
template <class T, class Ptr>
class xmlReceiver
{
public:
  explicit xmlReceiver(Ptr& p) : m_Ptr(p) {}
  xmlReceiver(const xmlReceiver&) = delete;
  xmlReceiver& operator=(const xmlReceiver&) = delete;
  ~xmlReceiver()
  {
    if (m_Slot)
      m_Ptr.attach(m_Slot);
  }
  operator T**() { return &m_Slot; }

private:
  Ptr& m_Ptr;
  T* m_Slot = nullptr;
};

/* A reference-holding pointer to a T; Self is the derived pointer class (xmlElementPtr,
 * xmlEnumPtr), which adds only its class name. */
template <class T, class Self>
class xmlTypedPtr : public MvPtr
{
public:
  xmlTypedPtr() = default;
  xmlTypedPtr(T* p) : MvPtr(p) {}
  Self& operator=(T* p)
  {
    MvPtr::operator=(p);
    return static_cast<Self&>(*this);
  }
  Self& operator=(std::nullptr_t)
  {
    reset();
    return static_cast<Self&>(*this);
  }

  T* get() const { return static_cast<T*>(MvPtr::get()); }
  T* operator->() const { return get(); }
  T& operator*() const { return *get(); }

  /* Releases what is held; the reference the called function writes is then taken over. */
  xmlReceiver<T, Self> receive()
  {
    reset();
    return xmlReceiver<T, Self>(static_cast<Self&>(*this));
  }
};

/* A reference-holding pointer to an element. */
class xmlElementPtr : public xmlTypedPtr<xmlElement, xmlElementPtr>
{
public:
  using xmlTypedPtr::xmlTypedPtr;
  using xmlTypedPtr::operator=;
  MV_DECLARE_CLASS(xmlElementPtr);
};

#endif
