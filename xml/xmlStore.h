/*
 * xmlStore.h - the storage behind xmlElement: the arena a parsed document's elements share, the
 * block that holds an element's tag and attributes, and the name index of a block with many.
 * Internal to xml/.
 */
#ifndef XMLSTORE_H
#define XMLSTORE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

/* Bump allocation in chunks, for the blocks and texts of one parse. Nothing is freed before the
 * arena; its count of references (one per element placed in it, plus the parser's while it runs)
 * is not atomic, as the elements' own counts are not. */
class xmlArena
{
public:
  /* A new arena with one reference, whose chunks hold about `chunkSize` bytes; null when
   * there is no memory for it. */
  static xmlArena* create(size_t chunkSize) noexcept;
  /* `n` bytes aligned to `align` (a power of two, at most a pointer's alignment), or null when
   * there is no memory. */
  char* allocate(size_t n, size_t align = 1) noexcept
  {
    const size_t pad = (0 - reinterpret_cast<uintptr_t>(m_Next)) & (align - 1);
    if (n + pad <= m_Left) {
      char* p = m_Next + pad;
      m_Next = p + n;
      m_Left -= n + pad;
      return p;
    }
    return allocateSlow(n);  // a chunk's data starts aligned as a pointer
  }
  void addRef() noexcept { ++m_Refs; }
  void release() noexcept;
  /* While a parse fills the arena: its read position `*pos` in a text that ends at `end`. Each
   * new chunk is then sized for the rest of the text at the rate the text read so far needed,
   * so that little more than the tree's own bytes is asked for. Null ends it. */
  void follow(const unsigned* pos, unsigned end) noexcept
  {
    m_Pos = pos;
    m_Start = pos ? *pos : 0;
    m_End = end;
  }

private:
  struct Chunk
  {
    Chunk* next;
  };
  xmlArena() = default;
  char* allocateSlow(size_t n) noexcept;

  size_t nextChunkSize() const noexcept;

  Chunk* m_Chunks = nullptr;
  char* m_Next = nullptr;
  size_t m_Left = 0;
  size_t m_ChunkSize = 0;
  size_t m_Handed = 0;   // bytes of the chunks before the current one, and of lone requests
  size_t m_Current = 0;  // size of the current chunk
  const unsigned* m_Pos = nullptr;
  unsigned m_Start = 0;
  unsigned m_End = 0;
  int32_t m_Refs = 1;
};

inline uint32_t xmlLoad32(const char* p)
{
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void xmlStore32(char* p, uint32_t v)
{
  std::memcpy(p, &v, sizeof v);
}

/* The tag and the attributes of an element: this header, the tag's bytes, then per attribute
 * its name's length and its value's length (32 bits each) followed by the name and the value
 * (stored encoded). A block of an element's own is preceded by an xmlOwnBlock. */
struct xmlBlock
{
  uint32_t tagLength;
  uint32_t count;  // attributes
  uint32_t used;   // bytes after the header: the tag and the attributes
  const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

/* What an element's own block has besides: its room and, with many attributes, an index. */
struct xmlOwnBlock
{
  uint32_t* index;     // open addressing: slot = offset of an attribute + 1, 0 empty
  uint32_t indexMask;  // slots - 1
  uint32_t capacity;   // bytes after the xmlBlock header
  xmlBlock block;
  static xmlOwnBlock* of(xmlBlock* b)
  {
    return reinterpret_cast<xmlOwnBlock*>(reinterpret_cast<char*>(b) -
                                          offsetof(xmlOwnBlock, block));
  }
};

/* Blocks with more attributes than this are searched through an index. */
enum
{
  XML_INDEX_THRESHOLD = 16
};

/* FNV-1a of a name: the index's hash. */
inline uint32_t xmlNameHash(const char* s, unsigned n)
{
  uint32_t h = 2166136261u;
  for (unsigned i = 0; i < n; ++i)
    h = (h ^ static_cast<unsigned char>(s[i])) * 16777619u;
  return h;
}

/* An attribute of a block: its lengths, name and value. */
struct xmlAttribute
{
  uint32_t nameLength, valueLength;
  const char* name;
  const char* value;
  uint32_t size() const { return 8 + nameLength + valueLength; }
};

/* The attribute at offset `off` of the bytes after `b`'s header. */
inline xmlAttribute xmlAttributeAt(const xmlBlock* b, uint32_t off)
{
  const char* p = b->data() + off;
  xmlAttribute a;
  a.nameLength = xmlLoad32(p);
  a.valueLength = xmlLoad32(p + 4);
  a.name = p + 8;
  a.value = p + 8 + a.nameLength;
  return a;
}

/* What xmlFindAttribute answers when there is no such attribute. */
const uint32_t XML_NOT_FOUND = 0xFFFFFFFFu;

/* The offset of the attribute `name` (`n` bytes) in `b`, or XML_NOT_FOUND. An own block with many
 * attributes is searched through its index (made here when missing). */
uint32_t xmlFindAttribute(xmlBlock* b, bool own, const char* name, unsigned n);
/* Enters the attribute at `off` of `b` into an index of mask + 1 slots. */
void xmlIndexInsert(uint32_t* index, uint32_t mask, const xmlBlock* b, uint32_t off);
/* Drops the index of an own block (after attributes moved); the next lookup builds it again. */
void xmlDropIndex(xmlOwnBlock* own);
/* A new own block with room for `capacity` bytes after the header, holding a copy of `from`
 * (or only the header of an empty block). Throws MVFC_Exception when there is no memory. */
xmlOwnBlock* xmlNewOwnBlock(uint32_t capacity, const xmlBlock* from);
void xmlFreeOwnBlock(xmlOwnBlock* own);

#endif
