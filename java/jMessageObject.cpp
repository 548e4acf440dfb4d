// Natives of morvane.kestrum.MessageObject.
#include "cMessageObject.h"
#include "jgate.h"

namespace {

using Message = TBXCIMPL_MessageObject;

void* Create()
{
  return CreateMessageObject();
}

void Destroy(void* object)
{
  DestroyMessageObject(object);
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_nConstruct(JNIEnv* env, jobject self)
{
  TBXJ_Construct(env, self, Message::HandleKind, "MessageObject::Construct()", Create, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_nDestruct(JNIEnv* env, jobject self)
{
  TBXJ_Destruct(env, self, Message::HandleKind, Destroy);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_Open(JNIEnv* env, jobject self,
                                                                jstring path)
{
  TBXJ_Call<Message>(env, self, "MessageObject::Open()", 0, [&](Message& message) {
    MvString p;
    if (TBXJ_GetString(env, path, p))
      message.Open(p);
    return 0;
  });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_SetAttribute(JNIEnv* env, jobject self,
                                                                        jstring name,
                                                                        jstring value)
{
  static const char where[] = "MessageObject::SetAttribute()";
  TBXJ_Call<Message>(env, self, where, 0, [&](Message& message) {
    if (name == nullptr || value == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING,
                 std::string(where) + ": Value or Name of the Attribute is NULL");
      return 0;
    }
    MvString n, v;
    if (TBXJ_GetString(env, name, n) && TBXJ_GetString(env, value, v))
      message.SetAttribute(n, v);
    return 0;
  });
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_GetAttribute(JNIEnv* env,
                                                                           jobject self,
                                                                           jstring name)
{
  return TBXJ_Call<Message>(
      env, self, "MessageObject::GetAttribute()", jstring(nullptr), [&](Message& message) {
        MvString n, value;
        if (!TBXJ_GetString(env, name, n))
          return jstring(nullptr);
        try {
          message.GetAttribute(n, value);
        } catch (const TBX_Exception& e) {
          // A missing attribute reads as "" from Java.
          if (e.m_Result != TBX_E_ITEM_NOT_FOUND)
            throw;
          value = MvString();
        }
        return TBXJ_NewString(env, value);
      });
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_GetURL(JNIEnv* env, jobject self)
{
  return TBXJ_Call<Message>(env, self, "MessageObject::GetURL()", jstring(nullptr),
                            [&](Message& message) {
                              MvString url;
                              message.GetURL(url);
                              return TBXJ_NewString(env, url);
                            });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_Capture(JNIEnv* env, jobject self)
{
  TBXJ_Call<Message>(env, self, "MessageObject::Capture()", 0, [&](Message& message) {
    message.Capture();
    return 0;
  });
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageObject_nExecute(JNIEnv* env, jobject self)
{
  return TBXJ_Call<Message>(env, self, "MessageObject::Execute()", jint(0),
                            [&](Message& message) { return TBXJ_Adopt(message.Execute()); });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_FromString(JNIEnv* env, jobject self,
                                                                      jstring text)
{
  TBXJ_Call<Message>(env, self, "MessageObject::FromString()", 0, [&](Message& message) {
    MvString t;
    if (TBXJ_GetString(env, text, t))
      message.FromString(t);
    return 0;
  });
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_ToString(JNIEnv* env, jobject self)
{
  return TBXJ_Call<Message>(env, self, "MessageObject::ToString()", jstring(nullptr),
                            [&](Message& message) {
                              MvString text;
                              message.ToString(text);
                              return TBXJ_NewString(env, text);
                            });
}

} // extern "C"
