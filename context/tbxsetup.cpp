// Set-up of a store against the host: account configuration, defaults, the host's public key, and
// a new merchant key registered with the host.
#include "tbxsetup.h"

#include "tbxctx.h"
#include "tbxerr.h"
#include "tbxutil.h"
#include "xmlElement.h"

namespace {

// These operations report as part of the context unit.
const char kUnit[] = "tbxctx";

enum : long {
  kLineSetupNoEndpoint = 235,
  kLineSetupIdentifier = 248,
  kLineImportNoEndpoint = 279,
  kLineImportRequestedId = 281,
  kLineImportAnsweredId = 299,
  kLineImportKeyBlob = 304,
  kLineImportTrace = 311,
  kLineDefaultsNoEndpoint = 442,
  kLineDefaultsTrace = 465,
  kLinePublishNoEndpoint = 504,
  kLinePublishKeyId = 515,
  kLinePublishNoKey = 520,
  kLinePublishTrace = 536,
  kLineReconfigureNoContext = 642,
  kLineReconfigureTrace = 650,
  kLineReconfigureNoHostKey = 670,
  kLineReconfigureNewKeyId = 678,
  kLineReconfigureDone = 686,
};

const char kConfigFile[] = "config.xml";
const char kDefaultFile[] = "default.xml";
const char kCurrentKeyFile[] = "keys/current";
const char kPublicKeyDir[] = "keys/public/";

// The set-up steps need the host's set-up URL.
[[noreturn]] void NoEndpoint(const TBX_Context& context, long code, long line)
{
  TBX_THROW(code,
            "no set-up URL was given and config.xml of the store " + context.GetPath() +
                " names no VTAUTOURL; give the host's set-up URL: " +
                TBX_SetupCommand(context.GetPath()),
            kUnit, line);
}

void Trace(long line, const char* tag, const MvString& text)
{
  TBX_TraceLog::Write(kUnit, line, 0, MvString(tag), text);
}

// A value the host sent that will name a file: anything but a plain name is refused before it is
// stored, or a forged answer could write wherever the process may write.
void CheckHostIdentifier(const MvString& id, const char* what, long line)
{
  if (!TBX_IsPlainKeyId(id))
    TBX_THROW(TBX_E_INVALID_FORMAT, MvString(what) + " '" + id + "' is not a plain name", kUnit,
              line);
}

// One unsigned round trip: the request goes to `endpoint` as "?DATA=" + the encoded text; the
// answer must be XML whose TBX element has MSGTYPE `responseType`. `responseText` receives the
// answer exactly as received, `response` its TBX element.
void Exchange(TBX_Context& context, const MvString& endpoint, xmlElement* request,
              const char* responseType, MvString& responseText, xmlElementPtr& response)
{
  MvStringStream requestText;
  request->toStream(requestText);
  MvString url;
  context.RequestToURL(endpoint, requestText, MvString(), url);
  MvStringStream answer;
  context.StreamFromURL(url, answer);
  responseText = answer.str();
  TBX_Context::CheckAnswer(answer, MvString(responseType), url, response.receive());
}

}  // namespace

MvString TBX_NewMerchantKeyId(const MvString& customerId, const MvString& uuid)
{
  return "0-" + customerId + "-" + uuid;
}

MvString TBX_Context::SetupEndpoint()
{
  if (!m_AutoUrl.empty())
    return m_AutoUrl;
  MvString endpoint;
  // QueryValue answers false for an empty attribute: it counts as absent.
  if (!QueryValue(MvString(kConfigFile), MvString("TBX.VTAUTOURL"), endpoint))
    return MvString();
  return endpoint;
}

void TBX_Context::Setup()
{
  const MvString endpoint = SetupEndpoint();
  if (endpoint.empty())
    NoEndpoint(*this, TBX_E_NO_CONFIGURATION, kLineSetupNoEndpoint);

  xmlElementPtr request;
  XmlCreateRequest(MvString(TBX_MSG_SETUP_REQUEST), request.receive());
  MvString version;
  if (!QueryValue(MvString(kConfigFile), MvString("VERSION"), version))
    version = "0";
  request->setAttribute(MvString("VERSION"), version);

  MvString text;
  xmlElementPtr response;
  Exchange(*this, endpoint, request.get(), TBX_MSG_SETUP_RESPONSE, text, response);

  // Later steps name key files after these; an empty value is absent and handled there.
  MvString value;
  if (response->getAttribute(MvString("VTKEYID"), value) && !value.empty())
    CheckHostIdentifier(value, "VTKEYID", kLineSetupIdentifier);
  value = MvString();
  if (response->getAttribute(MvString("CUSTOMERID"), value) && !value.empty())
    CheckHostIdentifier(value, "CUSTOMERID", kLineSetupIdentifier);

  UpdateFile(MvString(kConfigFile), text);
}

void TBX_Context::ImportKey(MvString& keyId)
{
  const MvString endpoint = SetupEndpoint();
  if (endpoint.empty())
    NoEndpoint(*this, TBX_E_NO_CONFIGURATION, kLineImportNoEndpoint);
  // The identifier comes from the host's configuration.
  CheckHostIdentifier(keyId, "KEYID", kLineImportRequestedId);

  xmlElementPtr request;
  XmlCreateRequest(MvString(TBX_MSG_KEY_QUERY_REQUEST), request.receive());
  request->setAttribute(MvString("KEYID"), keyId);

  MvString text;
  xmlElementPtr response;
  Exchange(*this, endpoint, request.get(), TBX_MSG_KEY_QUERY_RESPONSE, text, response);

  MvString answeredId = keyId;
  response->getAttribute(MvString("KEYID"), answeredId);
  CheckHostIdentifier(answeredId, "KEYID", kLineImportAnsweredId);
  MvString blob;
  response->getAttribute(MvString("KEYBLOB"), blob);
  // Stored only when VerifyData will be able to use it: an empty or broken blob would make every
  // confirmation fail later, far from its cause.
  if (!IsPublicKeyText(blob))
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the host's KEYBLOB for KEYID " + TBX_Quote(answeredId) + " is not an RSA public key",
              kUnit, kLineImportKeyBlob);

  keyId = answeredId;
  UpdateFile(kPublicKeyDir + keyId, blob);
  Trace(kLineImportTrace, "IMPORT", keyId);
}

void TBX_Context::LoadDefaults()
{
  const MvString endpoint = SetupEndpoint();
  if (endpoint.empty())
    NoEndpoint(*this, TBX_E_NO_ENDPOINT, kLineDefaultsNoEndpoint);

  xmlElementPtr request;
  XmlCreateRequest(MvString(TBX_MSG_DEFAULTS_REQUEST), request.receive());

  MvString text;
  xmlElementPtr response;
  Exchange(*this, endpoint, request.get(), TBX_MSG_DEFAULTS_RESPONSE, text, response);

  Trace(kLineDefaultsTrace, "LOAD DEFAULTS", MvString());
  UpdateFile(MvString(kDefaultFile), text);
}

void TBX_Context::PublishKey(const MvString& keyId)
{
  const MvString endpoint = SetupEndpoint();
  if (endpoint.empty())
    NoEndpoint(*this, TBX_E_NO_ENDPOINT, kLinePublishNoEndpoint);

  xmlElementPtr request;
  XmlCreateRequest(MvString(TBX_MSG_KEY_EXPORT_REQUEST), request.receive());
  // The identifier names the file whose content is sent, and then keys/current.
  CheckHostIdentifier(keyId, "key identifier", kLinePublishKeyId);
  MvString blob;
  if (!QueryValue(kPublicKeyDir + keyId, MvString(), blob))
    TBX_THROW(TBX_E_KEY_NOT_FOUND,
              "the store " + m_Path + " has no " + kPublicKeyDir + keyId + " to publish", kUnit,
              kLinePublishNoKey);
  request->setAttribute(MvString("KEYID"), keyId);
  request->setAttribute(MvString("KEYBLOB"), blob);

  MvString text;
  xmlElementPtr response;
  Exchange(*this, endpoint, request.get(), TBX_MSG_KEY_EXPORT_RESPONSE, text, response);

  Trace(kLinePublishTrace, "PUBLISH", keyId);
  UpdateFile(MvString(kCurrentKeyFile), keyId);
}

void TBX_Context::Reconfigure()
{
  if (m_Path.empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kLineReconfigureNoContext);

  CreatePath(m_Path + "/keys");
  CreatePath(m_Path + "/keys/private");
  CreatePath(m_Path + "/keys/public");
  Trace(kLineReconfigureTrace, "START RECONFIGURE", MvString());

  MvString valid;
  const bool needDefaults =
      !QueryValue(MvString(kDefaultFile), MvString("TBX.ISVALID"), valid) || !(valid == "yes");

  Setup();
  if (needDefaults)
    LoadDefaults();

  MvString hostKeyId;
  if (!QueryValue(MvString(kConfigFile), MvString("VTKEYID"), hostKeyId))
    TBX_THROW(TBX_E_NO_CONFIGURATION,
              "the host's set-up answer in config.xml of the store " + m_Path +
                  " names no VTKEYID, the host's key",
              kUnit, kLineReconfigureNoHostKey);
  ImportKey(hostKeyId);

  MvString customerId;
  QueryValue(MvString(kConfigFile), MvString("CUSTOMERID"), customerId);
  const MvString keyId = TBX_NewMerchantKeyId(customerId, CreateUuid());
  CheckHostIdentifier(keyId, "new key identifier", kLineReconfigureNewKeyId);

  GenKey(keyId);
  PublishKey(keyId);
  Trace(kLineReconfigureDone, "RECONFIGURE OK", MvString());
}
