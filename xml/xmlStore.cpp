/*
 * xmlStore.cpp - the arena of a parsed document, and the blocks of tags and attributes.
 */
#include "xmlStore.h"

#include <new>

#include "mvobject.h"

namespace {

bool nameIs(const xmlAttribute& a, const char* name, unsigned n)
{
  return a.nameLength == n && (n == 0 || std::memcmp(a.name, name, n) == 0);
}

}  // namespace

xmlArena* xmlArena::create(size_t chunkSize) noexcept
{
  void* p = ::operator new(sizeof(xmlArena), std::nothrow);
  if (!p)
    return nullptr;
  xmlArena* arena = new (p) xmlArena;
  arena->m_ChunkSize = chunkSize < 256 ? 256 : chunkSize;
  return arena;
}

size_t xmlArena::nextChunkSize() const noexcept
{
  if (m_Pos == nullptr || *m_Pos <= m_Start)
    return m_ChunkSize;
  // Bytes the text read so far needed, scaled to what is left of it, with a little to spare (a
  // shortfall only means one more, smaller chunk).
  const double done = static_cast<double>(*m_Pos - m_Start);
  const double left = m_End > *m_Pos ? static_cast<double>(m_End - *m_Pos) : 0.0;
  const double used = static_cast<double>(m_Handed + m_Current - m_Left);
  const double want = used / done * left * 1.03 + 4096;
  const double most = 64.0 * 1024 * 1024;
  return want < 256 ? 256 : want > most ? static_cast<size_t>(most) : static_cast<size_t>(want);
}

char* xmlArena::allocateSlow(size_t n) noexcept
{
  const size_t chunkSize = nextChunkSize();
  // A request larger than a chunk gets a chunk of its own; the current one stays in use.
  const bool alone = n > chunkSize / 2;
  const size_t size = sizeof(Chunk) + (alone ? n : chunkSize);
  void* p = ::operator new(size, std::nothrow);
  if (!p)
    return nullptr;
  Chunk* chunk = static_cast<Chunk*>(p);
  chunk->next = m_Chunks;
  m_Chunks = chunk;
  char* data = reinterpret_cast<char*>(chunk + 1);
  if (alone) {
    m_Handed += n;
    return data;
  }
  m_Handed += m_Current - m_Left;
  m_Current = chunkSize;
  m_Next = data + n;
  m_Left = chunkSize - n;
  return data;
}

void xmlArena::release() noexcept
{
  if (--m_Refs != 0)
    return;
  for (Chunk* c = m_Chunks; c;) {
    Chunk* next = c->next;
    ::operator delete(c);
    c = next;
  }
  this->~xmlArena();
  ::operator delete(this);
}

void xmlIndexInsert(uint32_t* index, uint32_t mask, const xmlBlock* b, uint32_t off)
{
  const xmlAttribute a = xmlAttributeAt(b, off);
  uint32_t slot = xmlNameHash(a.name, a.nameLength) & mask;
  while (index[slot] != 0)
    slot = (slot + 1) & mask;
  index[slot] = off + 1;
}

namespace {

// Builds the index of an own block with many attributes; without memory there is none, and
// lookups scan.
void buildIndex(xmlOwnBlock* own)
{
  uint32_t slots = 64;
  while (slots < 2 * own->block.count + 2)
    slots *= 2;
  uint32_t* index = new (std::nothrow) uint32_t[slots];
  if (!index)
    return;
  std::memset(index, 0, slots * sizeof(uint32_t));
  const xmlBlock* b = &own->block;
  uint32_t off = b->tagLength;
  for (uint32_t i = 0; i < b->count; ++i) {
    xmlIndexInsert(index, slots - 1, b, off);
    off += xmlAttributeAt(b, off).size();
  }
  delete[] own->index;
  own->index = index;
  own->indexMask = slots - 1;
}

}  // namespace

void xmlDropIndex(xmlOwnBlock* own)
{
  delete[] own->index;
  own->index = nullptr;
  own->indexMask = 0;
}

uint32_t xmlFindAttribute(xmlBlock* b, bool own, const char* name, unsigned n)
{
  if (own && b->count > XML_INDEX_THRESHOLD) {
    xmlOwnBlock* o = xmlOwnBlock::of(b);
    if (!o->index)
      buildIndex(o);
    if (o->index) {
      uint32_t slot = xmlNameHash(name, n) & o->indexMask;
      for (; o->index[slot] != 0; slot = (slot + 1) & o->indexMask) {
        const uint32_t off = o->index[slot] - 1;
        if (nameIs(xmlAttributeAt(b, off), name, n))
          return off;
      }
      return XML_NOT_FOUND;
    }
  }
  uint32_t off = b->tagLength;
  for (uint32_t i = 0; i < b->count; ++i) {
    const xmlAttribute a = xmlAttributeAt(b, off);
    if (nameIs(a, name, n))
      return off;
    off += a.size();
  }
  return XML_NOT_FOUND;
}

xmlOwnBlock* xmlNewOwnBlock(uint32_t capacity, const xmlBlock* from)
{
  void* p =
      ::operator new(offsetof(xmlOwnBlock, block) + sizeof(xmlBlock) + capacity, std::nothrow);
  if (!p)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  xmlOwnBlock* own = static_cast<xmlOwnBlock*>(p);
  own->index = nullptr;
  own->indexMask = 0;
  own->capacity = capacity;
  if (from) {
    own->block = *from;
    std::memcpy(own->block.data(), from->data(), from->used);
  } else {
    own->block = xmlBlock{0, 0, 0};
  }
  return own;
}

void xmlFreeOwnBlock(xmlOwnBlock* own)
{
  xmlDropIndex(own);
  ::operator delete(own);
}
