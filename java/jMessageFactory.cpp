// Natives of morvane.kestrum.MessageFactory. The int results are handle numbers of new message
// objects, which the Java side wraps and owns.
#include "cMessageFactory.h"
#include "cMessageObject.h"
#include "jgate.h"

namespace {

using Factory = TBXCIMPL_MessageFactory;

}  // namespace

TBXJ_LIFETIME_NATIVES(MessageFactory, Factory)

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageFactory_Open(JNIEnv* env, jobject self,
                                                                jstring path)
{
  TBXJ_Run<Factory>(env, self, "MessageFactory::Open()",
                    [&](Factory& factory) { factory.Open(TBXJ_Text(env, path)); });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nVerifyPayConfirm(JNIEnv* env,
                                                                             jobject self,
                                                                             jstring data,
                                                                             jstring signature)
{
  return TBXJ_CallNew<Factory>(
      env, self, "MessageFactory::VerifyPayConfirm()", [&](Factory& factory) {
        return factory.VerifyPayConfirm(TBXJ_Text(env, data), TBXJ_Text(env, signature));
      });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayInit(JNIEnv* env, jobject self)
{
  return TBXJ_CallNew<Factory>(env, self, "MessageFactory::CreatePayInit()",
                               [](Factory& factory) { return factory.CreatePayInit(); });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayComplete(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring id,
                                                                              jstring token)
{
  return TBXJ_CallNew<Factory>(
      env, self, "MessageFactory::CreatePayComplete()", [&](Factory& factory) {
        return factory.CreatePayComplete(TBXJ_Text(env, id), TBXJ_Text(env, token));
      });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreateRequest(JNIEnv* env, jobject self,
                                                                          jstring type)
{
  return TBXJ_CallNew<Factory>(env, self, "MessageFactory::CreateRequest()", [&](Factory& factory) {
    return factory.CreateRequest(TBXJ_Text(env, type));
  });
}

}  // extern "C"
