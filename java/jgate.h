// What the JNI natives share: the table that gives Java objects small handle numbers instead of
// addresses, the routine that throws morvane.kestrum.TBXException, string conversion, and the
// frame every native runs in (field lookup, handle check, catch of everything).
#ifndef JGATE_H
#define JGATE_H

#include <jni.h>

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "mvstring.h"
#include "tbxapp.h"
#include "tbxerr.h"
#include "tbxgate.h"

// The code of every failure the binding itself detects.
const long TBXJ_E_BINDING = TBX_E_UNEXPECTED;

// One live object behind a Java handle number. `use` is held for the whole of a call, so a close()
// racing a call on another thread waits for it instead of freeing the object under it.
struct TBXJ_Slot
{
  std::mutex use;
  TBX_HandleKind kind;
  void* object;  // null once destroyed
};

// Thread-safe map from non-zero Java handle numbers to live objects.
class TBXJ_HandleTable
{
public:
  // A new number for `object`; raises std::bad_alloc when the table cannot grow.
  static jint Add(TBX_HandleKind kind, void* object);
  // The slot of `handle` when it is live as `kind`; null otherwise.
  static std::shared_ptr<TBXJ_Slot> Find(TBX_HandleKind kind, jint handle);
  // Takes `handle` out of the table; the slot (still holding the object) or null.
  static std::shared_ptr<TBXJ_Slot> Remove(TBX_HandleKind kind, jint handle);
};

// Throws a TBXException with `code` and `text` in the caller's thread (fatal error of the virtual
// machine when the exception class is missing or incompatible). Does nothing when an exception is
// already pending. `request` reaches the optional setter putRequestSent(int) (-1, 0 or 1, as
// TBX_LastRequestWasSent answers); a class without it gets the code and text alone.
void TBXJ_Throw(JNIEnv* env, long code, const std::string& text,
                TBX_RequestState request = TBX_RequestState::kNone);

// Raised inside a native when a Java exception is already pending (a string could not be read, an
// argument was refused): the native returns at once and adds nothing.
struct TBXJ_Pending
{};

// A Java string for library bytes (see TBXJ_Utf16FromBytes); null with an exception pending when
// the virtual machine is out of memory.
jstring TBXJ_NewString(JNIEnv* env, const MvString& text);

// Library bytes of a Java string; a null string is "". Raises TBXJ_Pending when the virtual
// machine is out of memory.
MvString TBXJ_Text(JNIEnv* env, jstring text);

// Throws the binding's failure "<where>: <what>" and raises TBXJ_Pending when any of `texts` is
// null.
void TBXJ_RequireAll(JNIEnv* env, std::initializer_list<jstring> texts, const char* where,
                     const char* what);

// The value `read(value)` gives; a value that is not there (TBX_E_ITEM_NOT_FOUND) reads as "" from
// Java.
template <class F>
MvString TBXJ_ValueOrEmpty(F&& read)
{
  MvString value;
  try {
    read(value);
  } catch (const TBX_Exception& e) {
    if (e.m_Result != TBX_E_ITEM_NOT_FOUND)
      throw;
    value = MvString();
  }
  return value;
}

// A message object made by a native, handed to Java as a table number; destroyed when it cannot
// be entered.
jint TBXJ_Adopt(void* message);

// The m_Handle field of `self`'s class, or null (the lookup's own error cleared).
jfieldID TBXJ_HandleField(JNIEnv* env, jobject self);

// Throws the exception of a failed call: the failure's code, and "<where>: " followed by its
// message. Call only inside a catch handler.
void TBXJ_ThrowCurrent(JNIEnv* env, const char* where) noexcept;

// Runs `body(object)` on the live T behind `self`'s m_Handle, with the binding's checks and
// messages ("<where>: member m_Handle not found", "<where>: Invalid Handle"). `where` is
// "<Class>::<Method>()". A raised failure becomes a pending TBXException and `fallback` is returned
// (the Java caller never sees it).
template <class T, class R, class F>
R TBXJ_Call(JNIEnv* env, jobject self, const char* where, R fallback, F&& body) noexcept
{
  TBX_RequestBegin();
  try {
    jfieldID field = TBXJ_HandleField(env, self);
    if (field == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING, std::string(where) + ": member m_Handle not found");
      return fallback;
    }
    std::shared_ptr<TBXJ_Slot> slot =
        TBXJ_HandleTable::Find(T::HandleKind, env->GetIntField(self, field));
    if (slot) {
      std::lock_guard<std::mutex> guard(slot->use);
      if (T* object = TBX_LiveHandle<T>(slot->object)) {
        try {
          return body(*object);
        } catch (const TBXJ_Pending&) {
          return fallback;
        } catch (...) {
          TBXJ_ThrowCurrent(env, where);
          return fallback;
        }
      }
    }
    TBXJ_Throw(env, TBXJ_E_BINDING, std::string(where) + ": Invalid Handle");
  } catch (...) {
    TBXJ_ThrowCurrent(env, where);
  }
  return fallback;
}

// TBXJ_Call for a native that returns nothing.
template <class T, class F>
void TBXJ_Run(JNIEnv* env, jobject self, const char* where, F&& body) noexcept
{
  TBXJ_Call<T>(env, self, where, 0, [&](T& object) {
    body(object);
    return 0;
  });
}

// TBXJ_Call for a native that answers a text: `body(object, text)` reads it, Java gets a string.
template <class T, class F>
jstring TBXJ_CallText(JNIEnv* env, jobject self, const char* where, F&& body) noexcept
{
  return TBXJ_Call<T>(env, self, where, jstring(nullptr), [&](T& object) {
    MvString text;
    body(object, text);
    return TBXJ_NewString(env, text);
  });
}

// TBXJ_Call for a native that makes a message object: `body(object)` makes it, Java gets its
// number (see TBXJ_Adopt).
template <class T, class F>
jint TBXJ_CallNew(JNIEnv* env, jobject self, const char* where, F&& body) noexcept
{
  return TBXJ_Call<T>(env, self, where, jint(0),
                      [&](T& object) { return TBXJ_Adopt(body(object)); });
}

// The natives that only pass their strings on: `member` of the object gets each of `texts` as
// library bytes (see TBXJ_Text). Java gets nothing, or the number of the message object `member`
// makes (see TBXJ_CallNew).
template <class T, class M, class... J>
auto TBXJ_Forward(JNIEnv* env, jobject self, const char* where, M member, J... texts) noexcept
{
  static_assert((std::is_same_v<J, jstring> && ...), "a native passes on Java strings only");
  auto call = [&](T& object) { return (object.*member)(TBXJ_Text(env, texts)...); };
  if constexpr (std::is_void_v<std::invoke_result_t<decltype(call)&, T&>>)
    TBXJ_Run<T>(env, self, where, call);
  else
    return TBXJ_CallNew<T>(env, self, where, call);
}

// The natives that set a named value (an option, an attribute): both strings are required.
template <class T>
void TBXJ_SetNamed(JNIEnv* env, jobject self, const char* where, jstring name, jstring value,
                   void (T::*set)(const MvString&, const MvString&)) noexcept
{
  TBXJ_Run<T>(env, self, where, [&](T& object) {
    TBXJ_RequireAll(env, {name, value}, where, "Value or Name of the Attribute is NULL");
    (object.*set)(TBXJ_Text(env, name), TBXJ_Text(env, value));
  });
}

// nConstruct: a new T (made by `create`) in the table and its number in m_Handle.
void TBXJ_Construct(JNIEnv* env, jobject self, TBX_HandleKind kind, const char* where,
                    void* (*create)(), void (*destroy)(void*)) noexcept;

// nDestruct: takes the object out of the table, destroys it and sets m_Handle to 0.
void TBXJ_Destruct(JNIEnv* env, jobject self, TBX_HandleKind kind, void (*destroy)(void*)) noexcept;

// A new registered T as the table takes it; null when memory runs out.
template <class T>
void* TBXJ_NewObject() noexcept
{
  return TBX_NewHandle<T>();
}

// Defines the natives nConstruct and nDestruct of the Java class morvane.kestrum.<Class>, whose
// objects are T.
#define TBXJ_LIFETIME_NATIVES(Class, T)                                                            \
  extern "C" JNIEXPORT void JNICALL Java_morvane_kestrum_##Class##_nConstruct(JNIEnv* env,         \
                                                                              jobject self)        \
  {                                                                                                \
    TBXJ_Construct(env, self, T::HandleKind, #Class "::Construct()", TBXJ_NewObject<T>,            \
                   TBX_DeleteHandle<T>);                                                           \
  }                                                                                                \
  extern "C" JNIEXPORT void JNICALL Java_morvane_kestrum_##Class##_nDestruct(JNIEnv* env,          \
                                                                             jobject self)         \
  {                                                                                                \
    TBXJ_Destruct(env, self, T::HandleKind, TBX_DeleteHandle<T>);                                  \
  }

#endif
