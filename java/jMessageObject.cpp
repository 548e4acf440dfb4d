// Natives of morvane.kestrum.MessageObject.
#include "cMessageObject.h"
#include "jgate.h"

using Message = TBXCIMPL_MessageObject;

TBXJ_LIFETIME_NATIVES(MessageObject, Message)

extern "C" {

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_Open(JNIEnv* env, jobject self,
                                                               jstring path)
{
  TBXJ_Forward<Message>(env, self, "MessageObject::Open()", &Message::Open, path);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_SetAttribute(JNIEnv* env, jobject self,
                                                                       jstring name, jstring value)
{
  TBXJ_SetNamed(env, self, "MessageObject::SetAttribute()", name, value, &Message::SetAttribute);
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_GetAttribute(JNIEnv* env, jobject self,
                                                                          jstring name)
{
  return TBXJ_CallText<Message>(
      env, self, "MessageObject::GetAttribute()", [&](Message& message, MvString& text) {
        const MvString n = TBXJ_Text(env, name);
        text = TBXJ_ValueOrEmpty([&](MvString& value) { message.GetAttribute(n, value); });
      });
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_GetURL(JNIEnv* env, jobject self)
{
  return TBXJ_CallText<Message>(env, self, "MessageObject::GetURL()",
                                [](Message& message, MvString& url) { message.GetURL(url); });
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_Capture(JNIEnv* env, jobject self)
{
  TBXJ_Forward<Message>(env, self, "MessageObject::Capture()", &Message::Capture);
}

JNIEXPORT jint JNICALL Java_morvane_kestrum_MessageObject_nExecute(JNIEnv* env, jobject self)
{
  return TBXJ_Forward<Message>(env, self, "MessageObject::Execute()", &Message::Execute);
}

JNIEXPORT void JNICALL Java_morvane_kestrum_MessageObject_FromString(JNIEnv* env, jobject self,
                                                                     jstring text)
{
  TBXJ_Forward<Message>(env, self, "MessageObject::FromString()", &Message::FromString, text);
}

JNIEXPORT jstring JNICALL Java_morvane_kestrum_MessageObject_ToString(JNIEnv* env, jobject self)
{
  return TBXJ_CallText<Message>(env, self, "MessageObject::ToString()",
                                [](Message& message, MvString& text) { message.ToString(text); });
}

}  // extern "C"
