// The XML documents of the store and of the exchanges with the host: text to its TBX element,
// new requests, and the checks an answer must pass.
#include "tbxxml.h"

#include <cstdint>

#include "spliturl.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "xmlElement.h"
#include "xmlParser.h"

namespace {

// The first top-level TBX element of a parse's result (0 on success) and document.
void TopElement(long parsed, xmlElementPtr& document, xmlElement** element)
{
  if (parsed != 0)
    TBX_THROW(TBX_E_INVALID_FORMAT, "", kUnit, kSiteXmlParse);
  xmlElement* top = nullptr;
  if (!document->getChild(MvString("TBX"), 0, &top))
    TBX_THROW(TBX_E_INVALID_FORMAT, "", kUnit, kSiteXmlNoTbx);
  *element = top;
}

}  // namespace

MvString TBX_NotStoreXml(const MvString& path, const MvString& text)
{
  MvString message = "the store file " + path + " is not XML with a TBX element";
  // Store files are the one element the library writes; hand-edited ones often gain a header
  // or a note, which the parser does not take: say which, so that it can be removed.
  const char* what = nullptr;
  if (text.find_first_of("<?") != MvString::npos)
    what = "an XML declaration or processing instruction (<?...?>)";
  else if (text.find_first_of("<!--") != MvString::npos)
    what = "a comment (<!--...-->)";
  else if (text.find_first_of("<!") != MvString::npos)
    what = "a DOCTYPE or CDATA section (<!...>)";
  if (what != nullptr)
    message += MvString(": it holds ") + what +
               ", which store files do not accept; remove it, the file must be only <TBX "
               "NAME=\"value\" .../>";
  return message;
}

bool TBX_StoreValue(xmlElement* top, const MvString& name, MvString& value)
{
  MvString found;
  if (!xmlGetAttributeEx(top, name, found) || found.empty())
    return false;
  value = found;
  return true;
}

void TBX_XmlFromStream(MvStringStream& in, xmlElement** element)
{
  xmlElementPtr document;
  const long parsed = xmlParser::parseText(in, document.receive());
  TopElement(parsed, document, element);
}

void TBX_XmlFromString(const MvString& text, xmlElement** element)
{
  TBX_XmlFromText(text.c_str(), text.size(), element);
}

void TBX_XmlFromText(const char* text, size_t length, xmlElement** element)
{
  if (length >= UINT32_MAX - 128)
    throw MVFC_Exception(TBX_E_OUT_OF_MEMORY);
  // Parsed where it lies: a copy would double the memory a large text needs.
  xmlElementPtr document;
  const long parsed = xmlParser::parseText(text, static_cast<unsigned>(length), document.receive());
  TopElement(parsed, document, element);
}

void TBX_XmlCreateRequest(const MvString& type, xmlElement** element)
{
  xmlElementPtr request;
  xmlParser::createElement(MvString("TBX"), request.receive());
  request->setAttribute(MvString("MSGTYPE"), type);
  xmlElement* out = request.get();
  out->addRef();
  *element = out;
}

void TBX_CheckResponseMsgType(xmlElement* response, const MvString& expected)
{
  MvString type;
  if (response != nullptr)
    response->getAttribute(MvString("MSGTYPE"), type);
  if (type == "Error") {
    MvString message;
    response->getAttribute(MvString("MESSAGE"), message);
    TBX_THROW(TBX_E_HOST_ERROR, message, kUnit, kSiteHostError);
  }
  if (type == expected)
    return;
  TBX_THROW(TBX_E_REQUEST_FAILED,
            "Response MSGTYPE: received '" + type + "', expected '" + expected + "'", kUnit,
            kSiteWrongType);
}

void TBX_CheckAnswer(MvStringStream& answer, const MvString& expected, const MvString& url,
                     xmlElement** element)
{
  xmlElementPtr top;
  try {
    TBX_XmlFromStream(answer, top.receive());
    TBX_CheckResponseMsgType(top.get(), expected);
  } catch (const TBX_Exception& e) {
    if (e.m_Result == TBX_E_INVALID_FORMAT)
      throw e.Retold("the answer from " + ShownUrl(url) + " is not XML with a TBX element");
    if (e.m_Result == TBX_E_REQUEST_FAILED)
      throw e.Retold(e.m_Detail + ", from " + ShownUrl(url));
    throw;
  }
  xmlElement* out = top.get();
  out->addRef();
  *element = out;
}
