/*
 * xmlElement.cpp - the element tree, its text form and the character-reference codecs.
 */
#include "xmlElement.h"
#include "xmlElementEnum.h"

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

void XMLDecode(const MvString& in, MvString& out)
{
    out.assign("");
    const char* s = in.c_str();
    const unsigned n = in.size();
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
// xmlElement

MV_IMPLEMENT_CLASS(xmlElement, MvFindable)
MV_IMPLEMENT_CLASS(xmlElementPtr, MvPtr)

namespace {

xmlElement* elementOf(const MvFindable& entry)
{
    return static_cast<xmlElement*>(static_cast<const MvStrPtr&>(entry).second().get());
}

} // namespace

xmlElement::xmlElement() : m_Parent(nullptr) {}

xmlElement::xmlElement(const MvString& tag) : m_Tag(tag), m_Parent(nullptr) {}

xmlElement::xmlElement(MvString&& tag) : m_Tag(std::move(tag)), m_Parent(nullptr) {}

xmlElement::~xmlElement()
{
    releaseChildren();
}

// Destroying an element would destroy its children from inside its destructor, and theirs from
// inside theirs: a recursion as deep as the tree. Instead the children whose last reference is
// ours are collected on a list and emptied of their own children one at a time, so that each
// destructor runs with nothing left below it. Children someone else still holds survive with
// their subtrees, their parent pointer reset.
void xmlElement::releaseChildren() noexcept
{
    if (m_Children.size() == 0)
        return;
    std::vector<xmlElement*> pending;
    auto collect = [&pending](xmlElement* e) {
        for (MvStrPtrMultimap::iterator it = e->m_Children.begin(); it != e->m_Children.end(); ++it) {
            xmlElement* child = elementOf(*it);
            pending.push_back(child);
            child->addRef();
            if (child->m_Parent == e)
                child->m_Parent = nullptr;
        }
        e->m_Children.clear();  // each child now lives on the list's reference alone
    };
    xmlElement* current = nullptr;
    try {
        collect(this);
        while (!pending.empty()) {
            current = pending.back();
            pending.pop_back();
            if (current->refCount() == 1 && current->m_Children.size() != 0)
                collect(current);
            xmlElement* done = current;
            current = nullptr;
            done->release();
        }
    } catch (...) {
        // No memory for the list: what is left goes the recursive way.
        if (current)
            current->release();
        for (xmlElement* e : pending)
            e->release();
    }
}

bool xmlElement::operator<(const MvFindable& o) const
{
    if (o.isInstanceOf("xmlElement"))
        return m_Tag.compare(static_cast<const xmlElement&>(o).m_Tag) < 0;
    return m_Tag < o;
}

bool xmlElement::operator==(const MvFindable& o) const
{
    if (o.isInstanceOf("xmlElement"))
        return m_Tag.compare(static_cast<const xmlElement&>(o).m_Tag) == 0;
    return m_Tag == o;
}

bool xmlElement::setAttribute(const MvString& name, const MvString& value)
{
    MvString encoded;
    XMLEncode(value, encoded);
    setEncodedAttribute(name, std::move(encoded));
    return true;
}

void xmlElement::setEncodedAttribute(const MvString& name, MvString&& encoded)
{
    m_Attributes[name] = std::move(encoded);
}

bool xmlElement::getAttribute(const MvString& name, MvString& value) const
{
    const MvString* stored = m_Attributes.lookup(name);
    if (!stored)
        return false;
    XMLDecode(*stored, value);
    return true;
}

void xmlElement::insertChild(xmlElement* child)
{
    m_Children.put(child->m_Tag, MvPtr(child));
    child->m_Parent = this;
}

bool xmlElement::getChild(const MvString& tag, long index, xmlElement** out)
{
    if (!m_Children.group(tag))
        return false;
    if (index < 0)
        throw MVFC_Exception(TBX_E_OUT_OF_RANGE);
    MvStrPtr* entry = m_Children.entry(tag, index);
    xmlElement* child = elementOf(*entry);
    child->addRef();
    *out = child;
    return true;
}

bool xmlElement::removeChild(const MvString& tag, long index)
{
    if (index < 0 || index >= static_cast<long>(m_Children.count(tag)))
        return false;
    // Hold the child until it is out of the map, so that it is let go only once.
    xmlElementPtr child(elementOf(*m_Children.entry(tag, index)));
    if (child->m_Parent == this)
        child->m_Parent = nullptr;
    return m_Children.remove(tag, index);
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
    out = m_Text;
}

void xmlElement::setText(const MvString& text)
{
    m_Text = text;
}

bool xmlElement::getTag(MvString& out) const
{
    out = m_Tag;
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
bool writeStart(const MvString& tag, const MvStrMap& attributes, const MvString& text,
                bool hasChildren, MvStringStream& out)
{
    const bool hasTag = !tag.empty();
    if (hasTag) {
        out << '<' << tag;
        for (MvStrMap::iterator it = attributes.begin(); it != attributes.end(); ++it) {
            out << ' ' << MvStrMap::key(it);
            const MvString& value = MvStrMap::value(it);
            if (value.empty())
                out.write("=\"\"", 3);
            else
                out.write("=\"", 2) << value << '"';
        }
    }
    bool content = false;
    if (!text.empty()) {
        if (hasTag)
            out << '>';
        out << text;
        content = true;
    }
    if (hasChildren && !content) {
        if (hasTag)
            out << '>';
        content = true;
    }
    return content;
}

void writeEnd(const MvString& tag, bool content, MvStringStream& out)
{
    if (tag.empty())
        return;
    if (content)
        out.write("</", 2) << tag << '>';
    else
        out.write("/>", 2);
}

} // namespace

// Walks the tree with an explicit stack, so that no depth of tree can exhaust the call stack.
bool xmlElement::toStream(MvStringStream& out) const
{
    struct Frame {
        const xmlElement* element;
        MvStrPtrMultimap::iterator next;  // the next child to write
        bool content;
    };
    std::vector<Frame> stack;
    auto enter = [&](const xmlElement* e) {
        const bool hasChildren = e->m_Children.begin() != e->m_Children.end();
        const bool content = writeStart(e->m_Tag, e->m_Attributes, e->m_Text, hasChildren, out);
        stack.push_back(Frame{e, e->m_Children.begin(), content});
    };
    try {
        enter(this);
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next != top.element->m_Children.end()) {
                const xmlElement* child = elementOf(*top.next);
                ++top.next;
                enter(child);  // may move the frames: `top` is not used after this
            } else {
                writeEnd(top.element->m_Tag, top.content, out);
                stack.pop_back();
            }
        }
    } catch (const std::bad_alloc&) {
        throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
    }
    return true;
}
