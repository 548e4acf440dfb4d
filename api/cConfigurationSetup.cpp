#include "cConfigurationSetup.h"

#include "tbxapp.h"
#include "tbxbase.h"
#include "tbxerr.h"
#include "tbxutil.h"

namespace {

// Error sites: the unit name and line values messages show (see "Error sites" in tbxerr.h).
const char kUnit[] = "cConfigurationSetup";
enum Site : long
{
  kSiteNoValue = 60,
  kSiteFileName = 62,
};

using Setup = TBXCIMPL_ConfigurationSetup;

void CheckStoreFileName(const MvString& file)
{
  if (!TBX_IsStoreFileName(file))
    TBX_THROW(TBX_E_INVALID_ARGUMENT,
              "file name '" + file + "' must be a relative name inside the store, without '..'",
              kUnit, kSiteFileName);
}

}  // namespace

void TBXCIMPL_ConfigurationSetup::SetConfiguration(const MvString& path)
{
  m_Context.Open(path);
}

void TBXCIMPL_ConfigurationSetup::Reconfigure(const MvString& serverUrl, const MvString& userName,
                                              const MvString& password)
{
  if (!serverUrl.empty())
    m_Context.SetOption(MvString("VTAUTOURL"), serverUrl);
  m_Context.SetOption(MvString("UserName"), userName);
  m_Context.SetOption(MvString("Password"), password);
  m_Context.Reconfigure();
}

void TBXCIMPL_ConfigurationSetup::SetOption(const MvString& name, const MvString& value)
{
  m_Context.SetOption(name, value);
}

void TBXCIMPL_ConfigurationSetup::GetAttribute(const MvString& file, const MvString& key,
                                               MvString& value)
{
  CheckStoreFileName(file);
  if (!m_Context.QueryValue(file, key, value))
    TBX_THROW(TBX_E_ITEM_NOT_FOUND,
              "the store file " + file + " has no value " + TBX_Quote(key) + ", or does not exist",
              kUnit, kSiteNoValue);
}

void TBXCIMPL_ConfigurationSetup::SetAttribute(const MvString& file, const MvString& key,
                                               const MvString& value)
{
  CheckStoreFileName(file);
  if (value.empty())
    return;
  m_Context.SetValue(file, key, value, false);
}

TBX_EXPORT_HANDLE_LIFETIME(TBXCIMPL_ConfigurationSetup, CreateConfigurationSetup,
                           DestroyConfigurationSetup)

extern "C" TBX_EXTERN(long) ConfigurationSetup_SetConfiguration(void* setup, const char* configPath)
{
  return TBX_Call<Setup>(setup, kUnit,
                         [&](Setup& s) { s.SetConfiguration(mbstoSTRING(configPath)); });
}

extern "C" TBX_EXTERN(long)
    ConfigurationSetup_Reconfigure(void* setup, const char* serverUrl, const char* userName,
                                   const char* password)
{
  return TBX_Call<Setup>(setup, kUnit, [&](Setup& s) {
    s.Reconfigure(mbstoSTRING(serverUrl), mbstoSTRING(userName), mbstoSTRING(password));
  });
}

extern "C" TBX_EXTERN(long)
    ConfigurationSetup_SetOption(void* setup, const char* name, const char* value)
{
  return TBX_Call<Setup>(setup, kUnit,
                         [&](Setup& s) { s.SetOption(mbstoSTRING(name), mbstoSTRING(value)); });
}

extern "C" TBX_EXTERN(long)
    ConfigurationSetup_GetAttribute(void* setup, const char* file, const char* key, long* length,
                                    char* buffer)
{
  return TBX_CallText<Setup>(setup, kUnit, length, buffer, [&](Setup& s, MvString& value) {
    s.GetAttribute(mbstoSTRING(file), mbstoSTRING(key), value);
  });
}

extern "C" TBX_EXTERN(long) ConfigurationSetup_SetAttribute(void* setup, const char* file,
                                                            const char* key, const char* value)
{
  return TBX_Call<Setup>(setup, kUnit, [&](Setup& s) {
    s.SetAttribute(mbstoSTRING(file), mbstoSTRING(key), mbstoSTRING(value));
  });
}
