// Natives of morvane.kestrum.MessageFactory. The int results are handle numbers of new message
// objects, which the Java side wraps and owns.
#include "cMessageFactory.h"
#include "cMessageObject.h"
#include "jgate.h"

using Factory = TBXCIMPL_MessageFactory;

TBXJ_LIFETIME_NATIVES(MessageFactory, Factory)

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageFactory_Open(JNIEnv* env, jobject self,
                                                                jstring path)
{
  TBXJ_Forward<Factory>(env, self, "MessageFactory::Open()", &Factory::Open, path);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nVerifyPayConfirm(JNIEnv* env,
                                                                             jobject self,
                                                                             jstring data,
                                                                             jstring signature)
{
  return TBXJ_Forward<Factory>(env, self, "MessageFactory::VerifyPayConfirm()",
                               &Factory::VerifyPayConfirm, data, signature);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nVerifyPayConfirmForOrder(
    JNIEnv* env, jobject self, jstring data, jstring signature, jstring token, jstring amount,
    jstring currency)
{
  return TBXJ_Forward<Factory>(env, self, "MessageFactory::VerifyPayConfirmForOrder()",
                               &Factory::VerifyPayConfirmForOrder, data, signature, token, amount,
                               currency);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayInit(JNIEnv* env, jobject self)
{
  return TBXJ_Forward<Factory>(env, self, "MessageFactory::CreatePayInit()",
                               &Factory::CreatePayInit);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayComplete(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring id,
                                                                              jstring token)
{
  return TBXJ_Forward<Factory>(env, self, "MessageFactory::CreatePayComplete()",
                               &Factory::CreatePayComplete, id, token);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreateRequest(JNIEnv* env, jobject self,
                                                                          jstring type)
{
  return TBXJ_Forward<Factory>(env, self, "MessageFactory::CreateRequest()",
                               &Factory::CreateRequest, type);
}

}  // extern "C"
