// The store's stream sources: reading a local file or a URL with the store's transport settings.
#include "tbxstore.h"

#include "spliturl.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxhttp.h"
#include "tbxurl.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmlElement.h"

namespace {

// The transport's code for an answer "404 Not Found".
const long kHttpNotFound = TBX_RESULT(TBX_E_HTTP_STATUS_BASE | 404u);

}  // namespace

void TBX_Store::StreamFromURL(const MvString& location, MvStringStream& out)
{
  if (!IsHttp(location)) {
    TBX_StreamFromFile(location, out);
    return;
  }
  URL_INFO info;
  TBX_SplitLocation(location, info);
  Fetch(info, out);
}

void TBX_Store::Fetch(URL_INFO& info, MvStringStream& out)
{
  xmlElementPtr settings;
  if (LoadSettings(settings.receive()))
    TBX_ApplyTransportSettings(settings.get(), m_Path, info);
  HttpSession(info, out);
}

bool TBX_Store::LoadSettings(xmlElement** element)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteQueryNoContext);
  const MvString location = m_Path + "/settings.xml";
  MvStringStream text;
  try {
    if (IsHttp(m_Path)) {
      // The settings of a store that is itself a URL are fetched without settings: reading them
      // with their own proxy settings would need them first, and so on without end.
      URL_INFO plain;
      TBX_SplitLocation(location, plain);
      HttpSession(plain, text);
    } else {
      TBX_StreamFromFile(location, text);
    }
  } catch (const TBX_Exception& e) {
    // A store on a web server without settings.xml has no settings, as a directory without one.
    if (e.m_Result == TBX_E_SOURCE_NOT_OPENED || (IsHttp(m_Path) && e.m_Result == kHttpNotFound))
      return false;
    throw;
  }
  try {
    TBX_XmlFromStream(text, element);
  } catch (const TBX_Exception& e) {
    throw e.Retold(TBX_NotStoreXml(location, text.str()));
  }
  return true;
}
