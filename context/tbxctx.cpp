// The configuration store: values, files, XML helpers, keys and request URLs.
#include "tbxctx.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include <openssl/crypto.h>

#include "KrptSign.h"
#include "httpencode.h"
#include "spliturl.h"
#include "tbxbase.h"
#include "tbxerr.h"
#include "tbxutil.h"
#include "xmlElement.h"
#include "xmlParser.h"

namespace {

const char kUnit[] = "tbxctx";

// Lines this unit reports with its failures and trace events.
enum : long {
  kLineOpenTrace = 23,
  kLineSetOption = 38,
  kLineXmlParse = 46,
  kLineXmlNoTbx = 49,
  kLineQueryNoContext = 71,
  kLineQueryBytesNoContext = 112,
  kLineSetValueName = 134,
  kLineRequestUrl = 145,
  kLineUpdateBytesNoContext = 167,
  kLineUpdateBytesOpen = 178,
  kLineUpdateBytesWrite = 181,
  kLineUpdateNoContext = 193,
  kLineUpdateOpen = 205,
  kLineUpdateWrite = 212,
  kLineUpdateTrace = 217,
  kLineVerifyNoKey = 359,
  kLineSignNoKey = 403,
  kLineHostError = 481,
  kLineWrongType = 487,
};

const char kPrivateKeyDir[] = "keys/private/";
const char kPublicKeyDir[] = "keys/public/";

// The parser's name characters: anything else in an attribute name writes a file that no longer
// parses.
bool IsAttributeName(const MvString& name)
{
  if (name.empty())
    return false;
  for (unsigned i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok)
      return false;
  }
  return true;
}

// True when the store file `file` lies in a directory named keys/private: its path components,
// "." and empty ones skipped, end in "keys", "private", name.
bool IsPrivateKeyFile(const MvString& file)
{
  MvString parts[2];
  MvString part;
  const unsigned n = file.size();
  for (unsigned i = 0; i < n; ++i) {
    if (file[i] != '/') {
      part += file[i];
      continue;
    }
    if (!part.empty() && !(part == ".")) {
      parts[0] = parts[1];
      parts[1] = part;
    }
    part = MvString();
  }
  return parts[0] == "keys" && parts[1] == "private";
}

// Wipes the text of a private key when it goes out of scope, on every path out.
class WipeOnExit
{
public:
  explicit WipeOnExit(MvString& text) : m_Text(text) {}
  ~WipeOnExit()
  {
    if (m_Text.begin() != nullptr)
      OPENSSL_cleanse(m_Text.begin(), m_Text.size());
  }
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
  MvString& m_Text;
};

MvString CannotWrite(const MvString& path, int err)
{
  return "cannot write " + path + ": " + TBX_SystemErrorText(err);
}

// A key operation's failure told with the key file it used.
MvString KeyFileDetail(const MvString& path, const TBX_Exception& e)
{
  return "key file " + path + (e.m_Detail.empty() ? MvString() : ": " + e.m_Detail);
}

}  // namespace

TBX_Context::TBX_Context()
{
}

TBX_Context::~TBX_Context()
{
}

MvString TBX_Context::StoreFilePath(const MvString& file) const
{
  return m_Path + "/" + file;
}

void TBX_Context::Open(const MvString& path)
{
  m_Path = path.empty() ? GetDefaultConfiguration() : path;
  TBX_TraceLog::Write(kUnit, kLineOpenTrace, 0, MvString("OPEN CONTEXT"), m_Path);
  // A store read over HTTP has no directory of ours to create.
  if (!IsHttp(m_Path))
    CreatePath(m_Path);
}

MvString TBX_Context::GetPath() const
{
  return m_Path;
}

void TBX_Context::SetOption(const MvString& name, const MvString& value)
{
  if (name == "UserName")
    m_UserName = value;
  else if (name == "Password")
    m_Password = value;
  else if (name == "VTAUTOURL")
    m_AutoUrl = value;
  else
    TBX_THROW(TBX_E_INVALID_OPTION,
              "option " + TBX_Quote(name) + " is unknown: the options are UserName, Password and "
              "VTAUTOURL",
              kUnit, kLineSetOption);
}

bool TBX_Context::QueryValue(const MvString& file, const MvString& name, MvString& value)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineQueryNoContext);
  MvStringStream text;
  try {
    StreamFromURL(StoreFilePath(file), text);
  } catch (const TBX_Exception& e) {
    if (e.m_Result == TBX_E_SOURCE_NOT_OPENED)
      return false;
    throw;
  }
  if (name.empty()) {
    value = text.str();
    return true;
  }
  xmlElementPtr top;
  try {
    XmlFromStream(text, top.receive());
  } catch (const TBX_Exception& e) {
    throw e.Retold("the store file " + StoreFilePath(file) + " is not XML with a TBX element");
  }
  MvString found;
  if (!xmlGetAttributeEx(top.get(), name, found) || found.empty())
    return false;
  value = found;
  return true;
}

bool TBX_Context::QueryValue(const MvString& file, unsigned char* buffer, unsigned long& length)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineQueryBytesNoContext);
  const MvString path = StoreFilePath(file);
  if (TBX_HasZeroByte(path))
    return false;
  FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr)
    return false;
  const size_t n = length > 0 ? std::fread(buffer, 1, length, f) : 0;
  std::fclose(f);
  length = static_cast<unsigned long>(n);
  return true;
}

TBX_Context::Presence TBX_Context::Probe(const MvString& file)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineQueryNoContext);
  const MvString path = StoreFilePath(file);
  if (IsHttp(m_Path)) {
    MvStringStream content;
    try {
      StreamFromURL(path, content);
    } catch (const TBX_Exception& e) {
      const unsigned long code = static_cast<unsigned long>(e.m_Result) & 0xFFFFFFFFul;
      if (code == (TBX_E_HTTP_STATUS_BASE | 404u))
        return Presence::Absent;
      // The status family holds the answers 100 to 999; below are the transport's own codes.
      if ((code & 0xFFFFF000ul) == TBX_E_HTTP_STATUS_BASE && (code & 0xFFFul) >= 100)
        return Presence::Unknown;
      throw;
    }
    if (content.str().begin() != nullptr)
      OPENSSL_cleanse(content.str().begin(), content.str().size());
    return Presence::Present;
  }
  struct stat st;
  if (TBX_HasZeroByte(path))
    return Presence::Unknown;
  if (lstat(path.c_str(), &st) == 0)
    return Presence::Present;
  return errno == ENOENT || errno == ENOTDIR ? Presence::Absent : Presence::Unknown;
}

void TBX_Context::SetValue(const MvString& file, const MvString& name, const MvString& value,
                           bool create)
{
  if (!IsAttributeName(name))
    TBX_THROW(TBX_E_INVALID_ARGUMENT, "attribute name '" + name + "' is not an XML name", kUnit,
              kLineSetValueName);
  MvString text;
  const bool found = QueryValue(file, MvString(), text);
  xmlElementPtr top;
  try {
    XmlFromString(text, top.receive());
  } catch (const TBX_Exception& e) {
    if (e.m_Result != TBX_E_INVALID_FORMAT)
      throw;
    if (!create && found)
      throw e.Retold("the store file " + StoreFilePath(file) + " is not XML with a TBX element");
    if (!create && (file == "default.xml" || file == "config.xml"))
      throw e.Retold("the store file " + StoreFilePath(file) + " does not exist; set the store up "
                     "first: " + TBX_SetupCommand(m_Path));
    if (!create)
      throw e.Retold("the store file " + StoreFilePath(file) + " does not exist; create it "
                     "first, holding <TBX/>");
    xmlParser::createElement(MvString("TBX"), top.receive());
  }
  xmlSetAttributeEx(top.get(), name, value);
  MvStringStream out;
  top->toStream(out);
  UpdateFile(file, out.str());
}

void TBX_Context::UpdateFile(const MvString& file, const MvString& text)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineUpdateNoContext);
  int err = 0;
  const long rc = TBX_ReplaceFile(StoreFilePath(file), text.c_str(), text.size(),
                                  IsPrivateKeyFile(file), &err);
  if (rc == TBX_E_FILE_NOT_FOUND)
    TBX_THROW(rc, CannotWrite(StoreFilePath(file), err), kUnit, kLineUpdateOpen);
  if (rc != 0)
    TBX_THROW(rc, CannotWrite(StoreFilePath(file), err), kUnit, kLineUpdateWrite);
  TBX_TraceLog::Write(kUnit, kLineUpdateTrace, 0, MvString("UPDATE"), MvString("UPDATE"));
}

void TBX_Context::UpdateFile(const MvString& file, const unsigned char* buffer,
                             unsigned long length)
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineUpdateBytesNoContext);
  const MvString path = StoreFilePath(file);
  int err = 0;
  const long rc = TBX_ReplaceFile(path, buffer, length, IsPrivateKeyFile(file), &err);
  if (rc == TBX_E_FILE_NOT_FOUND)
    TBX_THROW(rc, CannotWrite(path, err), kUnit, kLineUpdateBytesOpen);
  if (rc != 0)
    TBX_THROW(rc, CannotWrite(path, err), kUnit, kLineUpdateBytesWrite);
  LogMessage("UPDATE: " + path);
}

namespace {

// The first top-level TBX element of a parse's result (0 on success) and document.
void TopElement(long parsed, xmlElementPtr& document, xmlElement** element)
{
  if (parsed != 0)
    TBX_THROW(TBX_E_INVALID_FORMAT, "", kUnit, kLineXmlParse);
  xmlElement* top = nullptr;
  if (!document->getChild(MvString("TBX"), 0, &top))
    TBX_THROW(TBX_E_INVALID_FORMAT, "", kUnit, kLineXmlNoTbx);
  *element = top;
}

} // namespace

void TBX_Context::XmlFromStream(MvStringStream& in, xmlElement** element)
{
  xmlElementPtr document;
  const long parsed = xmlParser::parseText(in, document.receive());
  TopElement(parsed, document, element);
}

void TBX_Context::XmlFromString(const MvString& text, xmlElement** element)
{
  // Parsed where it lies: a copy into a stream would double the memory a large text needs.
  xmlElementPtr document;
  const long parsed = xmlParser::parseText(text.c_str(), text.size(), document.receive());
  TopElement(parsed, document, element);
}

void TBX_Context::XmlCreateRequest(const MvString& type, xmlElement** element)
{
  xmlElementPtr request;
  xmlParser::createElement(MvString("TBX"), request.receive());
  request->setAttribute(MvString("MSGTYPE"), type);
  xmlElement* out = request.get();
  out->addRef();
  *element = out;
}

void TBX_Context::CheckResponseMsgType(xmlElement* response, const MvString& expected)
{
  MvString type;
  if (response != nullptr)
    response->getAttribute(MvString("MSGTYPE"), type);
  if (type == "Error") {
    MvString message;
    response->getAttribute(MvString("MESSAGE"), message);
    TBX_THROW(TBX_E_HOST_ERROR, message, kUnit, kLineHostError);
  }
  if (type == expected)
    return;
  TBX_THROW(TBX_E_REQUEST_FAILED,
            "Response MSGTYPE: received '" + type + "', expected '" + expected + "'", kUnit,
            kLineWrongType);
}

void TBX_Context::CheckAnswer(MvStringStream& answer, const MvString& expected,
                              const MvString& url, xmlElement** element)
{
  xmlElementPtr top;
  try {
    XmlFromStream(answer, top.receive());
    CheckResponseMsgType(top.get(), expected);
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

void TBX_Context::GenKey(const MvString& keyId)
{
  // New identifiers carry the host's CUSTOMERID: a bad one is the host's fault.
  TBX_CheckKeyId(keyId, TBX_E_INVALID_FORMAT);
  MvString bitsText;
  QueryValue(MvString("settings.xml"), MvString("KEYBITS"), bitsText);
  const int bits = TBX_KeyBitsFromSetting(bitsText);
  MvString publicText;
  MvString privateText;
  WipeOnExit wipe(privateText);
  TBX_CreateKeyTexts(bits, publicText, privateText);
  UpdateFile(kPublicKeyDir + keyId, publicText);
  UpdateFile(kPrivateKeyDir + keyId, privateText);
}

void TBX_Context::SignData(const MvString& data, const MvString& keyId, MvString& signature)
{
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);
  MvString keyText;
  WipeOnExit wipe(keyText);
  const MvString file = kPrivateKeyDir + keyId;
  if (!QueryValue(file, MvString(), keyText) || keyText.empty())
    TBX_THROW(TBX_E_ITEM_NOT_FOUND,
              "the store " + m_Path + " has no " + file + ", the key that keys/current names; "
              "set the store up again: " + TBX_SetupCommand(m_Path),
              kUnit, kLineSignNoKey);
  try {
    TBX_SignWithKeyText(data, keyText, signature);
  } catch (const TBX_Exception& e) {
    throw e.Retold(KeyFileDetail(StoreFilePath(file), e));
  }
}

void TBX_Context::VerifyData(const MvString& data, const MvString& keyId,
                             const MvString& signature)
{
  // What a received message caused is told with the store's own names only: a shop may show
  // these messages to whoever sent it.
  TBX_CheckKeyId(keyId, TBX_E_NO_KEY_ID);
  MvString keyText;
  const MvString file = kPublicKeyDir + keyId;
  if (!QueryValue(file, MvString(), keyText) || keyText.empty())
    TBX_THROW(TBX_E_ITEM_NOT_FOUND,
              "the store has no " + file + ", the key KEYID names; if the host uses a new key, "
              "set the store up again with kestrum -conf",
              kUnit, kLineVerifyNoKey);
  try {
    TBX_VerifyWithKeyText(data, keyText, signature);
  } catch (const TBX_Exception& e) {
    if (e.m_Result != TBX_E_INVALID_SIGNATURE)
      throw e.Retold(KeyFileDetail(file, e));
    throw e.Retold("the signature does not verify under " + file +
                   "; the message was changed, or was not passed exactly as the host sent it");
  }
}

bool TBX_Context::IsPublicKeyText(const MvString& text)
{
  if (text.empty() || text.size() % 2 != 0)
    return false;
  unsigned char der[TBX_PUBLIC_KEY_BUFFER_SIZE];
  unsigned long length = sizeof der;
  if (::HexToBuffer(text, der, length) != 0)
    return false;
  return KRPT_CheckPublicKey(der, static_cast<int>(length)) == 0;
}

MvString TBX_Context::BufferToHex(const unsigned char* buffer, unsigned long length)
{
  return ::BufferToHex(buffer, length);
}

long TBX_Context::HexToBuffer(MvString text, unsigned char* buffer, unsigned long& length)
{
  return ::HexToBuffer(text, buffer, length);
}

MvString TBX_Context::Encode(const MvString& text)
{
  return ::Encode(text);
}

void TBX_Context::SlToBackSl(MvString& text)
{
  ::SlToBackSl(text);
}

void TBX_Context::RequestToURL(const MvString& endpoint, MvStringStream& request,
                               MvString signature, MvString& url)
{
  const unsigned mark = endpoint.empty() ? MvString::npos : endpoint.find_first_of("://");
  if (mark == MvString::npos || mark == 0)
    TBX_THROW(TBX_E_INVALID_URL,
              "the endpoint " + TBX_Quote(endpoint) + " is not a URL: it must begin with "
              "http:// or https://",
              kUnit, kLineRequestUrl);
  MvString result = endpoint.substr(0, mark + 3);
  // Credentials percent-encoded, so that '@', ':' and '/' in a password cannot move the request
  // to another host.
  if (!m_UserName.empty() || !m_Password.empty())
    result += PercentEncode(m_UserName, PercentKeep::kUnreserved) + ":" +
              PercentEncode(m_Password, PercentKeep::kUnreserved) + "@";
  result += endpoint.substr(mark + 3);
  result += "?DATA=";
  result += ::Encode(request.str());
  if (!signature.empty()) {
    result += "&SIGNATURE=";
    result += signature;
  }
  url = result;
}
