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

#include <new>
#include <utility>

namespace {

// Leaves the stream's read position at `pos` (and its end flag set when that is the end), as if
// the parser had read it one byte at a time.
void moveTo(MvStringStream& in, unsigned pos)
{
    char c;
    while (in.tellg() < pos && in.get(c)) {
    }
    if (pos >= in.str().size())
        in.get(c);
}

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

} // namespace

void xmlParser::createElement(const MvString& tag, xmlElement** out)
{
    xmlElement* e = newElement(tag);
    e->addRef();
    *out = e;
}

long xmlParser::parseText(MvStringStream& in, xmlElement** out)
{
    const MvString& text = in.str();
    const char* const input = text.c_str();
    const unsigned end = text.size();
    unsigned pos = in.tellg();

    xmlElementPtr doc(newElement(MvString()));  // releases the whole tree on every failure
    xmlElement* current = doc.get();
    unsigned depth = 0;

    int32_t state = 1;
    unsigned tokStart = 0, tokLen = 0;    // the token: input[tokStart, tokStart + tokLen)
    unsigned nameStart = 0, nameLen = 0;  // the attribute name, likewise

    while (pos < end) {
        const unsigned char c = static_cast<unsigned char>(input[pos]);
        const xmlTabEntry* row = xmlIndexedTabEntry(state, c);
        if (!row) {
            moveTo(in, pos + 1);
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
                moveTo(in, pos + (row->consume ? 1 : 0));
                return 1;
            }
            xmlElementPtr child(newElement(MvString(input + tokStart, tokLen)));
            current->insertChild(child.get());  // the parent's reference keeps it
            current = child.get();
            ++depth;
            break;
        }
        case XML_ACT_ATTRNAME:
            nameStart = tokStart;
            nameLen = tokLen;
            break;
        case XML_ACT_CLOSE:
            if (!current->m_Parent) {
                moveTo(in, pos + (row->consume ? 1 : 0));
                return 3;
            }
            current = current->m_Parent;
            --depth;
            break;
        case XML_ACT_ATTRVALUE: {
            const MvString name(input + nameStart, nameLen);
            MvString value(input + tokStart, tokLen);
            if (needsRecoding(input + tokStart, tokLen)) {
                MvString decoded;
                XMLDecode(value, decoded);
                XMLEncode(decoded, value);
            }
            // Otherwise decoding and encoding again would give back these very bytes.
            current->setEncodedAttribute(name, std::move(value));
            break;
        }
        case XML_ACT_TEXT:
            if (tokLen != 0)
                current->m_Text = MvString(input + tokStart, tokLen);
            break;
        default:
            break;
        }
        tokLen = 0;
        if (row->consume)
            ++pos;
        state = row->next;
    }

    moveTo(in, end);
    if (state != 1 || current != doc.get())
        return 2;
    *out = static_cast<xmlElement*>(doc.detach());
    return 0;
}
