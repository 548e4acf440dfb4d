// Set-up of a store against the host: account configuration, defaults, the host's public key, and
// a new merchant key registered with the host.
#include "tbxsetup.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tbxbase.h"
#include "tbxctx_sites.h"
#include "tbxerr.h"
#include "tbxutil.h"
#include "tbxxml.h"
#include "xmlElement.h"

namespace {

const char kConfigFile[] = "config.xml";
const char kDefaultFile[] = "default.xml";
const char kCurrentKeyFile[] = "keys/current";
const char kPublicKeyDir[] = "keys/public/";

// The set-up steps need the host's set-up URL.
[[noreturn]] void NoEndpoint(const MvString& store, long code, long line)
{
  TBX_THROW(code,
            "no set-up URL was given and config.xml of the store " + store +
                " names no VTAUTOURL; give the host's set-up URL",
            kUnit, line);
}

void Trace(long line, const char* tag, const MvString& text)
{
  TBX_TraceLog::Write(kUnit, line, 0, MvString(tag), text);
}

// A new request of `type` to the host.
xmlElementPtr NewRequest(const char* type)
{
  xmlElementPtr request;
  TBX_XmlCreateRequest(MvString(type), request.receive());
  return request;
}

// A value the host sent that will name a file: anything but a plain name is refused before it is
// stored, or a forged answer could write wherever the process may write.
void CheckHostIdentifier(const MvString& id, const char* what, long line)
{
  if (!TBX_IsPlainKeyId(id))
    TBX_THROW(TBX_E_INVALID_FORMAT,
              MvString(what) + " '" + id + "' " +
                  (TBX_LooksTemporary(id) ? "has the form of a temporary file's name"
                                          : "is not a plain name"),
              kUnit, line);
}

}  // namespace

MvString TBX_NewMerchantKeyId(const MvString& customerId, const MvString& uuid)
{
  return "0-" + customerId + "-" + uuid;
}

bool TBX_IsMerchantKeyId(const MvString& id)
{
  const unsigned n = id.size();
  if (n < 3 + 32 || id[0] != '0' || id[1] != '-' || id[n - 33] != '-')
    return false;
  for (unsigned i = n - 32; i < n; ++i) {
    const char c = id[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  }
  return true;
}

void TBX_Setup::SetOption(const MvString& name, const MvString& value)
{
  if (name == "UserName")
    m_Exchange.SetUserName(value);
  else if (name == "Password")
    m_Exchange.SetPassword(value);
  else if (name == "VTAUTOURL")
    m_AutoUrl = value;
  else
    TBX_THROW(TBX_E_INVALID_OPTION,
              "option " + TBX_Quote(name) +
                  " is unknown: the options are UserName, Password and "
                  "VTAUTOURL",
              kUnit, kSiteSetOption);
}

MvString TBX_Setup::SetupEndpoint(long code, long site)
{
  if (!m_AutoUrl.empty())
    return m_AutoUrl;
  MvString endpoint;
  // QueryValue answers false for an empty attribute: it counts as absent.
  if (!m_Store.QueryValue(MvString(kConfigFile), MvString("TBX.VTAUTOURL"), endpoint))
    NoEndpoint(m_Store.GetPath(), code, site);
  return endpoint;
}

void TBX_Setup::Setup()
{
  const MvString endpoint = SetupEndpoint(TBX_E_NO_CONFIGURATION, kSiteSetupNoEndpoint);

  xmlElementPtr request = NewRequest(TBX_MSG_SETUP_REQUEST);
  MvString version;
  if (!m_Store.QueryValue(MvString(kConfigFile), MvString("VERSION"), version))
    version = "0";
  request->setAttribute(MvString("VERSION"), version);

  MvString text;
  xmlElementPtr response;
  m_Exchange.Send(endpoint, "VTAUTOURL", request.get(), nullptr, MvString(TBX_MSG_SETUP_RESPONSE),
                  response, &text);

  // Later steps name key files after these; an empty value is absent and handled there.
  MvString value;
  if (response->getAttribute(MvString("VTKEYID"), value) && !value.empty())
    CheckHostIdentifier(value, "VTKEYID", kSiteSetupIdentifier);
  value = MvString();
  if (response->getAttribute(MvString("CUSTOMERID"), value) && !value.empty())
    CheckHostIdentifier(value, "CUSTOMERID", kSiteSetupIdentifier);

  m_Store.UpdateFile(MvString(kConfigFile), text);
}

void TBX_Setup::ImportKey(MvString& keyId)
{
  const MvString endpoint = SetupEndpoint(TBX_E_NO_CONFIGURATION, kSiteImportNoEndpoint);
  // The identifier comes from the host's configuration.
  CheckHostIdentifier(keyId, "KEYID", kSiteImportRequestedId);

  xmlElementPtr request = NewRequest(TBX_MSG_KEY_QUERY_REQUEST);
  request->setAttribute(MvString("KEYID"), keyId);

  MvString text;
  xmlElementPtr response;
  m_Exchange.Send(endpoint, "VTAUTOURL", request.get(), nullptr,
                  MvString(TBX_MSG_KEY_QUERY_RESPONSE), response, &text);

  MvString answeredId = keyId;
  response->getAttribute(MvString("KEYID"), answeredId);
  CheckHostIdentifier(answeredId, "KEYID", kSiteImportAnsweredId);
  MvString blob;
  response->getAttribute(MvString("KEYBLOB"), blob);
  // Stored only when VerifyData will be able to use it: an empty or broken blob would make every
  // confirmation fail later, far from its cause.
  if (!TBX_Keys::IsPublicKeyText(blob))
    TBX_THROW(TBX_E_INVALID_KEY_BLOB,
              "the host's KEYBLOB for KEYID " + TBX_Quote(answeredId) + " is not an RSA public key",
              kUnit, kSiteImportKeyBlob);

  keyId = answeredId;
  m_Store.UpdateFile(kPublicKeyDir + keyId, blob);
  Trace(kSiteImportTrace, "IMPORT", keyId);
}

void TBX_Setup::LoadDefaults()
{
  const MvString endpoint = SetupEndpoint(TBX_E_NO_ENDPOINT, kSiteDefaultsNoEndpoint);

  xmlElementPtr request = NewRequest(TBX_MSG_DEFAULTS_REQUEST);

  MvString text;
  xmlElementPtr response;
  m_Exchange.Send(endpoint, "VTAUTOURL", request.get(), nullptr,
                  MvString(TBX_MSG_DEFAULTS_RESPONSE), response, &text);

  Trace(kSiteDefaultsTrace, "LOAD DEFAULTS", MvString());
  m_Store.UpdateFile(MvString(kDefaultFile), text);
}

void TBX_Setup::PublishKey(const MvString& keyId)
{
  const MvString endpoint = SetupEndpoint(TBX_E_NO_ENDPOINT, kSitePublishNoEndpoint);

  xmlElementPtr request = NewRequest(TBX_MSG_KEY_EXPORT_REQUEST);
  // The identifier names the file whose content is sent, and then keys/current.
  CheckHostIdentifier(keyId, "key identifier", kSitePublishKeyId);
  MvString blob;
  if (!m_Store.QueryValue(kPublicKeyDir + keyId, MvString(), blob))
    TBX_THROW(TBX_E_KEY_NOT_FOUND,
              "the store " + m_Store.GetPath() + " has no " + kPublicKeyDir + keyId + " to publish",
              kUnit, kSitePublishNoKey);
  request->setAttribute(MvString("KEYID"), keyId);
  request->setAttribute(MvString("KEYBLOB"), blob);

  MvString text;
  xmlElementPtr response;
  m_Exchange.Send(endpoint, "VTAUTOURL", request.get(), nullptr,
                  MvString(TBX_MSG_KEY_EXPORT_RESPONSE), response, &text);

  Trace(kSitePublishTrace, "PUBLISH", keyId);
  m_Store.UpdateFile(MvString(kCurrentKeyFile), keyId);
}

void TBX_Setup::PrunePrivateKeys(const MvString& current, const MvString& previous)
{
  const MvString dir = m_Store.GetPath() + "/keys/private";
  DIR* d = TBX_HasZeroByte(dir) ? nullptr : opendir(dir.c_str());
  if (d == nullptr)
    return;
  // Best effort: the set-up succeeded whatever happens here, and a key left is only clutter.
  const int dfd = dirfd(d);
  while (const struct dirent* entry = readdir(d)) {
    const MvString name(entry->d_name);
    struct stat st;
    if (name == current || name == previous || !TBX_IsMerchantKeyId(name) ||
        fstatat(dfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (unlinkat(dfd, entry->d_name, 0) == 0)
      TBX_Store::LogMessage("REMOVED OLD KEY: " + name);
  }
  closedir(d);
}

void TBX_Setup::Reconfigure()
{
  if (m_Store.GetPath().empty())
    TBX_THROW(TBX_E_NO_CONTEXT, TBX_NO_STORE, kUnit, kSiteReconfigureNoContext);

  TBX_Store::CreatePath(m_Store.GetPath() + "/keys");
  TBX_Store::CreatePath(m_Store.GetPath() + "/keys/private");
  TBX_Store::CreatePath(m_Store.GetPath() + "/keys/public");
  // One set-up at a time, and no value written between its reads and writes.
  TBX_Store::WriteLock lock(m_Store);
  Trace(kSiteReconfigureTrace, "START RECONFIGURE", MvString());

  MvString valid;
  const bool needDefaults =
      !m_Store.QueryValue(MvString(kDefaultFile), MvString("TBX.ISVALID"), valid) ||
      !(valid == "yes");

  Setup();
  if (needDefaults)
    LoadDefaults();

  MvString hostKeyId;
  if (!m_Store.QueryValue(MvString(kConfigFile), MvString("VTKEYID"), hostKeyId))
    TBX_THROW(TBX_E_NO_CONFIGURATION,
              "the host's set-up answer in config.xml of the store " + m_Store.GetPath() +
                  " names no VTKEYID, the host's key",
              kUnit, kSiteReconfigureNoHostKey);
  ImportKey(hostKeyId);

  MvString customerId;
  m_Store.QueryValue(MvString(kConfigFile), MvString("CUSTOMERID"), customerId);
  const MvString keyId = TBX_NewMerchantKeyId(customerId, TBX_Store::CreateUuid());
  CheckHostIdentifier(keyId, "new key identifier", kSiteReconfigureNewKeyId);

  // The key offers were signed with until now: offers still on their way keep it.
  MvString previousKeyId;
  m_Store.QueryValue(MvString(kCurrentKeyFile), MvString(), previousKeyId);

  m_Keys.GenKey(keyId);
  PublishKey(keyId);
  PrunePrivateKeys(keyId, previousKeyId);
  Trace(kSiteReconfigureDone, "RECONFIGURE OK", MvString());
}
