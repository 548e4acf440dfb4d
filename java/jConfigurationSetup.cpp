// Natives of morvane.kestrum.ConfigurationSetup.
#include "cConfigurationSetup.h"
#include "jgate.h"

namespace {

using Setup = TBXCIMPL_ConfigurationSetup;

void* Create()
{
  return CreateConfigurationSetup();
}

void Destroy(void* object)
{
  DestroyConfigurationSetup(object);
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_nConstruct(JNIEnv* env, jobject self)
{
  TBXJ_Construct(env, self, Setup::HandleKind, "ConfigurationSetup::Construct()", Create, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_nDestruct(JNIEnv* env, jobject self)
{
  TBXJ_Destruct(env, self, Setup::HandleKind, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetConfiguration(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jstring path)
{
  TBXJ_Call<Setup>(env, self, "ConfigurationSetup::SetConfiguration()", 0, [&](Setup& setup) {
    MvString p;
    if (TBXJ_GetString(env, path, p))
      setup.SetConfiguration(p);
    return 0;
  });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_Reconfigure(JNIEnv* env,
                                                                            jobject self,
                                                                            jstring serverUrl,
                                                                            jstring userName,
                                                                            jstring password)
{
  TBXJ_Call<Setup>(env, self, "ConfigurationSetup::Reconfigure()", 0, [&](Setup& setup) {
    MvString url, user, pass;
    if (TBXJ_GetString(env, serverUrl, url) && TBXJ_GetString(env, userName, user) &&
        TBXJ_GetString(env, password, pass))
      setup.Reconfigure(url, user, pass);
    return 0;
  });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetOption(JNIEnv* env, jobject self,
                                                                          jstring name,
                                                                          jstring value)
{
  static const char where[] = "ConfigurationSetup::SetOption()";
  TBXJ_Call<Setup>(env, self, where, 0, [&](Setup& setup) {
    if (name == nullptr || value == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING,
                 std::string(where) + ": Value or Name of the Attribute is NULL");
      return 0;
    }
    MvString n, v;
    if (TBXJ_GetString(env, name, n) && TBXJ_GetString(env, value, v))
      setup.SetOption(n, v);
    return 0;
  });
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_ConfigurationSetup_GetAttribute(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring file,
                                                                                jstring key)
{
  return TBXJ_Call<Setup>(
      env, self, "ConfigurationSetup::GetAttribute()", jstring(nullptr), [&](Setup& setup) {
        MvString f, k, value;
        if (!TBXJ_GetString(env, file, f) || !TBXJ_GetString(env, key, k))
          return jstring(nullptr);
        try {
          setup.GetAttribute(f, k, value);
        } catch (const TBX_Exception& e) {
          // A value that is not there reads as "" from Java.
          if (e.m_Result != TBX_E_ITEM_NOT_FOUND)
            throw;
          value = MvString();
        }
        return TBXJ_NewString(env, value);
      });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetAttribute(JNIEnv* env,
                                                                             jobject self,
                                                                             jstring file,
                                                                             jstring key,
                                                                             jstring value)
{
  static const char where[] = "ConfigurationSetup::SetAttribute()";
  TBXJ_Call<Setup>(env, self, where, 0, [&](Setup& setup) {
    if (file == nullptr || key == nullptr || value == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING,
                 std::string(where) + ": Value or File, Name or newVal is NULL");
      return 0;
    }
    MvString f, k, v;
    if (TBXJ_GetString(env, file, f) && TBXJ_GetString(env, key, k) &&
        TBXJ_GetString(env, value, v))
      setup.SetAttribute(f, k, v);
    return 0;
  });
}

} // extern "C"
