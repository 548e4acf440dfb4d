/*
 * xmlElement.cpp - the element tree, its text form and the character-reference codecs.
 */
#include "xmlElement.h"
#include "xmlElementEnum.h"
#include "xmlStore.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Codecs

void XMLEncode(const MvString& in, MvString& out)
{
    out.assign("");
    const char* s = in.c_str();
    const unsigned n = in.size();
    unsigned run = 0;  // start of the bytes not yet copied
    for (unsigned i = 0; i < n; ++i) {
        const char* ref;
        unsigned refLen;
        switch (s[i]) {
        case '"': ref = "&quot;"; refLen = 6; break;
        case '&': ref = "&amp;"; refLen = 5; break;
        case '\'': ref = "&apos;"; refLen = 6; break;
        case '<': ref = "&lt;"; refLen = 4; break;
        case '>': ref = "&gt;"; refLen = 4; break;
        default: continue;
        }
        if (i > run)
            out.append(s + run, i - run);
        out.append(ref, refLen);
        run = i + 1;
    }
    if (n > run)
        out.append(s + run, n - run);
}

namespace {

// The byte a reference starting at s[0] == '&' stands for, and its length up to and including
// the ';'; 0 when s does not start with one of the references XMLDecode knows.
unsigned decodeReference(const char* s, unsigned n, char& byte)
{
    static const struct {
        const char* name;
        unsigned len;
        char byte;
    } named[] = {
        {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
    };
    for (const auto& r : named)
        if (n >= r.len && std::memcmp(s, r.name, r.len) == 0) {
            byte = r.byte;
            return r.len;
        }
    if (n < 4 || s[1] != '#')
        return 0;
    unsigned i = 2;
    const bool hex = s[i] == 'x';
    if (hex)
        ++i;
    const unsigned digits = i;
    unsigned value = 0;
    for (; i < n; ++i) {
        const char c = s[i];
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        value = value * (hex ? 16 : 10) + d;
        if (value > 255)
            return 0;
    }
    if (i == digits || i == n || s[i] != ';' || value == 0)
        return 0;
    byte = static_cast<char>(value);
    return i + 1;
}

} // namespace

namespace {

void decodeBytes(const char* s, unsigned n, MvString& out)
{
    out.assign("");
    unsigned run = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (s[i] != '&')
            continue;
        char byte;
        const unsigned len = decodeReference(s + i, n - i, byte);
        if (len == 0)
            continue;  // not a reference: the '&' stays as it is
        if (i > run)
            out.append(s + run, i - run);
        out.append(byte);
        run = i + len;
        i = run - 1;
    }
    if (n > run)
        out.append(s + run, n - run);
}

} // namespace

void XMLDecode(const MvString& in, MvString& out)
{
    decodeBytes(in.c_str(), in.size(), out);
}

bool xmlAtoi(const MvString& s, int& value)
{
    value = 0;
    const char* p = s.c_str();
    for (unsigned i = 0; i < s.size(); ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        // Unsigned arithmetic: a long number wraps instead of being undefined.
        value = static_cast<int>(static_cast<unsigned>(value) * 10u + static_cast<unsigned>(p[i] - '0'));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Paths

long xmlQuerySubElement(xmlElement* e, MvString& path, xmlElement** out)
{
    static const char kStep[] = "(.";
    unsigned cut = path.find_first_of(kStep, 0);
    if (cut == MvString::npos) {
        e->addRef();
        *out = e;
        return 0;
    }
    // Walk "TAG(.N)" steps; `at` holds a reference to the element reached so far.
    xmlElementPtr at(e);
    MvString rest(path);
    while (cut != MvString::npos) {
        const MvString tag(rest, 0, cut);
        const unsigned open = cut + 2;
        unsigned close = open;
        while (close < rest.size() && rest.c_str()[close] != ')')
            ++close;
        if (close >= rest.size())
            return 3;
        int index = 0;
        if (!xmlAtoi(MvString(rest, open, close - open), index))
            return 1;
        xmlElementPtr child;
        try {
            if (!at->getChild(tag, index, child.receive()))
                return 4;
        } catch (const MVFC_Exception& ex) {
            if (ex.code() != TBX_E_OUT_OF_RANGE)
                throw;
            return 4;
        }
        at = child;
        unsigned next = close + 1;
        if (next < rest.size() && rest.c_str()[next] == '.')
            ++next;
        rest = MvString(rest, next, MvString::npos);
        cut = rest.find_first_of(kStep, 0);
    }
    path = rest;
    xmlElement* found = at.get();
    found->addRef();
    *out = found;
    return 0;
}

bool xmlGetAttributeEx(xmlElement* e, const MvString& path, MvString& value)
{
    MvString name(path);
    xmlElementPtr at;
    if (xmlQuerySubElement(e, name, at.receive()) != 0)
        return false;
    return at->getAttribute(name, value);
}

bool xmlSetAttributeEx(xmlElement* e, const MvString& path, const MvString& value)
{
    MvString name(path);
    xmlElementPtr at;
    if (xmlQuerySubElement(e, name, at.receive()) != 0)
        return false;
    return at->setAttribute(name, value);
}

// ---------------------------------------------------------------------------------------------
// The arena

xmlArena* xmlArena::create(size_t chunkSize) noexcept
{
    void* p = ::operator new(sizeof(xmlArena), std::nothrow);
    if (!p)
        return nullptr;
    xmlArena* arena = new (p) xmlArena;
    arena->m_ChunkSize = chunkSize < 256 ? 256 : chunkSize;
    return arena;
}

char* xmlArena::allocateSlow(size_t n) noexcept
{
    // A request larger than a chunk gets a chunk of its own; the current one stays in use.
    const bool alone = n > m_ChunkSize / 2;
    const size_t size = sizeof(Chunk) + (alone ? n : m_ChunkSize);
    void* p = ::operator new(size, std::nothrow);
    if (!p)
        return nullptr;
    Chunk* chunk = static_cast<Chunk*>(p);
    chunk->next = m_Chunks;
    m_Chunks = chunk;
    char* data = reinterpret_cast<char*>(chunk + 1);
    if (alone)
        return data;
    m_Next = data + n;
    m_Left = m_ChunkSize - n;
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

// ---------------------------------------------------------------------------------------------
// Blocks

namespace {

const uint32_t kNotFound = 0xFFFFFFFFu;

// The attribute at `off` of a block: its lengths, name and value.
struct Attribute {
    uint32_t nameLength, valueLength;
    const char* name;
    const char* value;
    uint32_t size() const { return 8 + nameLength + valueLength; }
};

Attribute attributeAt(const xmlBlock* b, uint32_t off)
{
    const char* p = b->data() + off;
    Attribute a;
    a.nameLength = xmlLoad32(p);
    a.valueLength = xmlLoad32(p + 4);
    a.name = p + 8;
    a.value = p + 8 + a.nameLength;
    return a;
}

bool nameIs(const Attribute& a, const char* name, unsigned n)
{
    return a.nameLength == n && (n == 0 || std::memcmp(a.name, name, n) == 0);
}

void indexInsert(uint32_t* index, uint32_t mask, const xmlBlock* b, uint32_t off)
{
    const Attribute a = attributeAt(b, off);
    uint32_t slot = xmlNameHash(a.name, a.nameLength) & mask;
    while (index[slot] != 0)
        slot = (slot + 1) & mask;
    index[slot] = off + 1;
}

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
        indexInsert(index, slots - 1, b, off);
        off += attributeAt(b, off).size();
    }
    delete[] own->index;
    own->index = index;
    own->indexMask = slots - 1;
}

void dropIndex(xmlOwnBlock* own)
{
    delete[] own->index;
    own->index = nullptr;
    own->indexMask = 0;
}

// The offset of the attribute `name` in `b`, or kNotFound. An own block with many attributes is
// searched through its index (made here when missing).
uint32_t findAttribute(xmlBlock* b, bool own, const char* name, unsigned n)
{
    if (own && b->count > XML_INDEX_THRESHOLD) {
        xmlOwnBlock* o = xmlOwnBlock::of(b);
        if (!o->index)
            buildIndex(o);
        if (o->index) {
            uint32_t slot = xmlNameHash(name, n) & o->indexMask;
            for (; o->index[slot] != 0; slot = (slot + 1) & o->indexMask) {
                const uint32_t off = o->index[slot] - 1;
                if (nameIs(attributeAt(b, off), name, n))
                    return off;
            }
            return kNotFound;
        }
    }
    uint32_t off = b->tagLength;
    for (uint32_t i = 0; i < b->count; ++i) {
        const Attribute a = attributeAt(b, off);
        if (nameIs(a, name, n))
            return off;
        off += a.size();
    }
    return kNotFound;
}

// A new own block with room for `capacity` bytes after the header, holding a copy of `from`
// (or only the header of an empty block). Throws when there is no memory.
xmlOwnBlock* newOwnBlock(uint32_t capacity, const xmlBlock* from)
{
    void* p = ::operator new(offsetof(xmlOwnBlock, block) + sizeof(xmlBlock) + capacity, std::nothrow);
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

void freeOwnBlock(xmlOwnBlock* own)
{
    dropIndex(own);
    ::operator delete(own);
}

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

} // namespace

// ---------------------------------------------------------------------------------------------
// xmlElement

MV_IMPLEMENT_CLASS(xmlElement, MvFindable)
MV_IMPLEMENT_CLASS(xmlElementPtr, MvPtr)

static_assert(sizeof(xmlElement) <= 72, "an element of a parsed document must stay small");

xmlElement::xmlElement()
    : m_Arena(nullptr), m_Parent(nullptr), m_Last(nullptr), m_Next(nullptr), m_Block(nullptr),
      m_Text(nullptr)
{
}

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
        freeOwnBlock(xmlOwnBlock::of(m_Block));
    if (m_Text && (m_Flags & kOwnText))
        ::operator delete(m_Text);
    if (m_Arena)
        m_Arena->release();
}

void xmlElement::initBlock(const char* tag, unsigned tagLength)
{
    // Room for the attributes of a typical message, so that setting them seldom moves the block.
    xmlOwnBlock* own = newOwnBlock(tagLength + 256, nullptr);
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

namespace {

} // namespace

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
    const uint32_t off = findAttribute(m_Block, own, name, nameLength);
    uint64_t needed = m_Block->used;
    Attribute old{};
    if (off != kNotFound) {
        old = attributeAt(m_Block, off);
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
            newOwnBlock(static_cast<uint32_t>(grown > 0xFFFFFFF0u ? size : grown), m_Block);
        if (own) {
            xmlOwnBlock* previous = xmlOwnBlock::of(m_Block);
            fresh->index = previous->index;  // the offsets stay: the index moves along
            fresh->indexMask = previous->indexMask;
            previous->index = nullptr;
            freeOwnBlock(previous);
        }
        m_Block = &fresh->block;
        m_Flags |= kOwnBlock;
    }
    xmlOwnBlock* block = xmlOwnBlock::of(m_Block);
    char* data = m_Block->data();
    if (off != kNotFound) {
        const uint32_t tail = off + old.size();
        std::memmove(data + off + 8 + nameLength + valueLength, data + tail, m_Block->used - tail);
        xmlStore32(data + off + 4, valueLength);
        if (valueLength)
            std::memcpy(data + off + 8 + nameLength, value, valueLength);
        m_Block->used = static_cast<uint32_t>(needed);
        dropIndex(block);  // the attributes after this one moved
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
            dropIndex(block);  // rebuilt larger at the next lookup
        else
            indexInsert(block->index, block->indexMask, m_Block, at);
    }
}

bool xmlElement::getAttribute(const MvString& name, MvString& value) const
{
    if (!m_Block)
        return false;
    const uint32_t off = findAttribute(m_Block, (m_Flags & kOwnBlock) != 0, name.c_str(), name.size());
    if (off == kNotFound)
        return false;
    const Attribute a = attributeAt(m_Block, off);
    decodeBytes(a.value, a.valueLength, value);
    return true;
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
            const Attribute a = attributeAt(block, off);
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

} // namespace

// Walks the tree with an explicit stack, so that no depth of tree can exhaust the call stack.
bool xmlElement::toStream(MvStringStream& out) const
{
    struct Frame {
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
