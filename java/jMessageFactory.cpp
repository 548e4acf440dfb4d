// Natives of morvane.kestrum.MessageFactory. The int results are handle numbers of new message
// objects, which the Java side wraps and owns.
#include "cMessageFactory.h"
#include "cMessageObject.h"
#include "jgate.h"

namespace {

using Factory = TBXCIMPL_MessageFactory;

void* Create()
{
  return CreateMessageFactory();
}

void Destroy(void* object)
{
  DestroyMessageFactory(object);
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageFactory_nConstruct(JNIEnv* env, jobject self)
{
  TBXJ_Construct(env, self, Factory::HandleKind, "MessageFactory::Construct()", Create, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageFactory_nDestruct(JNIEnv* env, jobject self)
{
  TBXJ_Destruct(env, self, Factory::HandleKind, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageFactory_Open(JNIEnv* env, jobject self,
                                                                 jstring path)
{
  TBXJ_Call<Factory>(env, self, "MessageFactory::Open()", 0, [&](Factory& factory) {
    MvString p;
    if (TBXJ_GetString(env, path, p))
      factory.Open(p);
    return 0;
  });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nVerifyPayConfirm(JNIEnv* env,
                                                                              jobject self,
                                                                              jstring data,
                                                                              jstring signature)
{
  return TBXJ_Call<Factory>(env, self, "MessageFactory::VerifyPayConfirm()", jint(0),
                            [&](Factory& factory) {
                              MvString d, s;
                              if (!TBXJ_GetString(env, data, d) ||
                                  !TBXJ_GetString(env, signature, s))
                                return jint(0);
                              return TBXJ_Adopt(factory.VerifyPayConfirm(d, s));
                            });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayInit(JNIEnv* env, jobject self)
{
  return TBXJ_Call<Factory>(env, self, "MessageFactory::CreatePayInit()", jint(0),
                            [&](Factory& factory) { return TBXJ_Adopt(factory.CreatePayInit()); });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreatePayComplete(JNIEnv* env,
                                                                               jobject self,
                                                                               jstring id,
                                                                               jstring token)
{
  return TBXJ_Call<Factory>(env, self, "MessageFactory::CreatePayComplete()", jint(0),
                            [&](Factory& factory) {
                              MvString i, t;
                              if (!TBXJ_GetString(env, id, i) || !TBXJ_GetString(env, token, t))
                                return jint(0);
                              return TBXJ_Adopt(factory.CreatePayComplete(i, t));
                            });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageFactory_nCreateRequest(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring type)
{
  return TBXJ_Call<Factory>(env, self, "MessageFactory::CreateRequest()", jint(0),
                            [&](Factory& factory) {
                              MvString t;
                              if (!TBXJ_GetString(env, type, t))
                                return jint(0);
                              return TBXJ_Adopt(factory.CreateRequest(t));
                            });
}

} // extern "C"
