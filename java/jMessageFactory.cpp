// Natives of morvane.kestrum.MessageFactory. The int results are handle numbers of new message
// objects, which the Java side wraps and owns.
#include "cMessageFactory.h"
#include "cMessageObject.h"
#include "jgate.h"

namespace {

using Factory = TBXCIMPL_MessageFactory;

// A native that builds a message object: `build(factory)` makes it, Java gets its number.
template <class F>
jint Build(JNIEnv* env, jobject self, const char* where, F&& build) noexcept
{
  return TBXJ_Call<Factory>(env, self, where, jint(0),
                            [&](Factory& factory) { return TBXJ_Adopt(build(factory)); });
}

} // namespace

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
  return Build(env, self, "MessageFactory::VerifyPayConfirm()", [&](Factory& factory) {
    return factory.VerifyPayConfirm(TBXJ_Text(env, data), TBXJ_Text(env, signature));
  });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayInit(JNIEnv* env, jobject self)
{
  return Build(env, self, "MessageFactory::CreatePayInit()",
               [](Factory& factory) { return factory.CreatePayInit(); });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayComplete(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring id,
                                                                               jstring token)
{
  return Build(env, self, "MessageFactory::CreatePayComplete()", [&](Factory& factory) {
    return factory.CreatePayComplete(TBXJ_Text(env, id), TBXJ_Text(env, token));
  });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreateRequest(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring type)
{
  return Build(env, self, "MessageFactory::CreateRequest()",
               [&](Factory& factory) { return factory.CreateRequest(TBXJ_Text(env, type)); });
}

} // extern "C"
