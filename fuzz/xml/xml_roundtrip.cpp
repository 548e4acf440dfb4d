// Parses arbitrary bytes; whatever tree comes out is written, parsed again and written again, and
// both texts must be the same bytes. Every run must leave no library object alive, and the
// attribute codec must give back what it encoded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mvobject.h"
#include "mvstring.h"
#include "xmlElement.h"
#include "xmlParser.h"

namespace {

void fail(const char* what)
{
  std::fprintf(stderr, "xml_roundtrip: %s\n", what);
  std::abort();
}

long parse(const char* data, unsigned size, xmlElement** doc)
{
  MvStringStream in;
  in.write(data, size);
  return xmlParser::parseText(in, doc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size > (1u << 20))
    return 0;
  const int32_t live = MvRefCounter::m_nTotalRef.load();
  const char* bytes = reinterpret_cast<const char*>(data);
  const unsigned n = static_cast<unsigned>(size);
  {
    MvString raw(bytes, n), encoded, decoded;
    XMLEncode(raw, encoded);
    XMLDecode(encoded, decoded);
    if (decoded != raw)
      fail("XMLDecode(XMLEncode(s)) != s");
  }
  {
    xmlElement* doc = nullptr;
    const long result = parse(bytes, n, &doc);
    if (result != 0) {
      if (result < 1 || result > 3 || doc)
        fail("failure result out of range or output written");
    } else {
      MvStringStream first;
      doc->toStream(first);
      doc->release();

      xmlElement* again = nullptr;
      if (parse(first.str().c_str(), first.str().size(), &again) != 0)
        fail("the written text does not parse");
      MvStringStream second;
      again->toStream(second);
      again->release();
      if (first.str().size() != second.str().size() ||
          (first.str().size() &&
           std::memcmp(first.str().c_str(), second.str().c_str(), first.str().size()) != 0))
        fail("the written text changes when parsed and written again");
    }
  }
  if (MvRefCounter::m_nTotalRef.load() != live)
    fail("library objects leaked");
  return 0;
}
