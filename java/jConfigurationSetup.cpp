// Natives of morvane.kestrum.ConfigurationSetup.
#include "cConfigurationSetup.h"
#include "jgate.h"

using Setup = TBXCIMPL_ConfigurationSetup;

TBXJ_LIFETIME_NATIVES(ConfigurationSetup, Setup)

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetConfiguration(JNIEnv* env,
                                                                                jobject self,
                                                                                jstring path)
{
  TBXJ_Forward<Setup>(env, self, "ConfigurationSetup::SetConfiguration()", &Setup::SetConfiguration,
                      path);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_Reconfigure(
    JNIEnv* env, jobject self, jstring serverUrl, jstring userName, jstring password)
{
  TBXJ_Forward<Setup>(env, self, "ConfigurationSetup::Reconfigure()", &Setup::Reconfigure,
                      serverUrl, userName, password);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetOption(JNIEnv* env, jobject self,
                                                                         jstring name,
                                                                         jstring value)
{
  TBXJ_SetNamed(env, self, "ConfigurationSetup::SetOption()", name, value, &Setup::SetOption);
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_ConfigurationSetup_GetAttribute(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring file,
                                                                               jstring key)
{
  return TBXJ_CallText<Setup>(
      env, self, "ConfigurationSetup::GetAttribute()", [&](Setup& setup, MvString& text) {
        const MvString f = TBXJ_Text(env, file), k = TBXJ_Text(env, key);
        text = TBXJ_ValueOrEmpty([&](MvString& value) { setup.GetAttribute(f, k, value); });
      });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_ConfigurationSetup_SetAttribute(
    JNIEnv* env, jobject self, jstring file, jstring key, jstring value)
{
  static const char where[] = "ConfigurationSetup::SetAttribute()";
  TBXJ_Run<Setup>(env, self, where, [&](Setup& setup) {
    TBXJ_RequireAll(env, {file, key, value}, where, "Value or File, Name or newVal is NULL");
    setup.SetAttribute(TBXJ_Text(env, file), TBXJ_Text(env, key), TBXJ_Text(env, value));
  });
}

}  // extern "C"
