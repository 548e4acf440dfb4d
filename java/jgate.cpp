#include "jgate.h"

#include <climits>
#include <unordered_map>

#include "jstrconv.h"

namespace {

struct Table
{
  std::mutex lock;
  std::unordered_map<jint, std::shared_ptr<TBXJ_Slot>> live;
  jint next = 1;
};

// Never destroyed: natives may still run while the process tears down static objects.
Table& TheTable()
{
  static Table* table = new Table;
  return *table;
}

const char kExceptionClass[] = "morvane/kestrum/TBXException";

}  // namespace

jint TBXJ_HandleTable::Add(TBX_HandleKind kind, void* object)
{
  auto slot = std::make_shared<TBXJ_Slot>();
  slot->kind = kind;
  slot->object = object;
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (t.live.size() >= static_cast<size_t>(INT_MAX) - 1)
    throw std::bad_alloc();
  // Numbers count up and wrap past INT_MAX to 1; a number still in use is skipped, so a closed
  // object's number is not handed out again until the count has come round.
  while (t.live.count(t.next) != 0)
    t.next = t.next == INT_MAX ? 1 : t.next + 1;
  const jint handle = t.next;
  t.next = t.next == INT_MAX ? 1 : t.next + 1;
  t.live.emplace(handle, std::move(slot));
  return handle;
}

namespace {

// The slot of `handle` when it is live as `kind`, taken out of the table when `remove`; null
// otherwise.
std::shared_ptr<TBXJ_Slot> Lookup(TBX_HandleKind kind, jint handle, bool remove)
{
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.live.find(handle);
  if (it == t.live.end() || it->second->kind != kind)
    return nullptr;
  std::shared_ptr<TBXJ_Slot> slot = it->second;
  if (remove)
    t.live.erase(it);
  return slot;
}

}  // namespace

std::shared_ptr<TBXJ_Slot> TBXJ_HandleTable::Find(TBX_HandleKind kind, jint handle)
{
  return Lookup(kind, handle, false);
}

std::shared_ptr<TBXJ_Slot> TBXJ_HandleTable::Remove(TBX_HandleKind kind, jint handle)
{
  return Lookup(kind, handle, true);
}

void TBXJ_Throw(JNIEnv* env, long code, const std::string& text, TBX_RequestState request)
{
  if (env->ExceptionCheck())
    return;
  jclass cls = env->FindClass(kExceptionClass);
  if (cls == nullptr) {
    env->FatalError("Class morvane/kestrum/TBXException not found");
    return;
  }
  jmethodID init = env->GetMethodID(cls, "<init>", "()V");
  jmethodID putHR = init != nullptr ? env->GetMethodID(cls, "putHR", "(I)V") : nullptr;
  jmethodID putMessage = putHR != nullptr
                             ? env->GetMethodID(cls, "putErrorMessage", "(Ljava/lang/String;)V")
                             : nullptr;
  if (putMessage == nullptr) {
    env->FatalError("Incompatible class morvane/kestrum/TBXException");
    return;
  }
  jobject exception = env->NewObject(cls, init);
  if (exception == nullptr)
    return;  // the constructor's own failure is pending
  env->CallVoidMethod(exception, putHR,
                      static_cast<jint>(static_cast<int32_t>(code & 0xFFFFFFFFL)));
  if (env->ExceptionCheck())
    return;
  const std::u16string wide = TBXJ_Utf16FromBytes(text.data(), text.size());
  jstring message =
      env->NewString(reinterpret_cast<const jchar*>(wide.data()), static_cast<jsize>(wide.size()));
  if (message == nullptr)
    return;
  env->CallVoidMethod(exception, putMessage, message);
  if (env->ExceptionCheck())
    return;
  // Optional: a class written before the setter existed still gets its code and text.
  jmethodID putRequestSent = env->GetMethodID(cls, "putRequestSent", "(I)V");
  if (putRequestSent == nullptr) {
    env->ExceptionClear();
  } else {
    env->CallVoidMethod(exception, putRequestSent, static_cast<jint>(request));
    if (env->ExceptionCheck())
      return;
  }
  env->Throw(static_cast<jthrowable>(exception));
  env->DeleteLocalRef(message);
  env->DeleteLocalRef(exception);
  env->DeleteLocalRef(cls);
}

jstring TBXJ_NewString(JNIEnv* env, const MvString& text)
{
  const std::u16string wide =
      TBXJ_Utf16FromBytes(text.c_str(), text.c_str() != nullptr ? text.length() : 0);
  if (wide.size() > static_cast<size_t>(INT_MAX))
    throw std::bad_alloc();
  return env->NewString(reinterpret_cast<const jchar*>(wide.data()),
                        static_cast<jsize>(wide.size()));
}

MvString TBXJ_Text(JNIEnv* env, jstring text)
{
  if (text == nullptr)
    return MvString();
  const jsize length = env->GetStringLength(text);
  std::u16string wide(static_cast<size_t>(length), u'\0');
  env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(&wide[0]));
  if (env->ExceptionCheck())
    throw TBXJ_Pending();
  const std::string bytes = TBXJ_BytesFromUtf16(wide.data(), wide.size());
  if (bytes.size() > UINT_MAX)
    throw std::bad_alloc();
  return MvString(bytes.c_str(), static_cast<unsigned>(bytes.size()));
}

void TBXJ_RequireAll(JNIEnv* env, std::initializer_list<jstring> texts, const char* where,
                     const char* what)
{
  for (jstring text : texts) {
    if (text == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING, std::string(where) + ": " + what);
      throw TBXJ_Pending();
    }
  }
}

jfieldID TBXJ_HandleField(JNIEnv* env, jobject self)
{
  if (self == nullptr)
    return nullptr;
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, "m_Handle", "I");
  env->DeleteLocalRef(cls);
  if (field == nullptr)
    env->ExceptionClear();  // NoSuchFieldError: reported as the binding's own failure
  return field;
}

void TBXJ_ThrowCurrent(JNIEnv* env, const char* where) noexcept
{
  const long code = TBX_HandleCurrentException();
  const TBX_RequestState request = TBX_LastErrorRequest();
  try {
    TBXJ_Throw(env, code, std::string(where) + ": " + TBX_LastErrorMessage(), request);
  } catch (...) {
    // Out of memory while composing the text: the code alone still reaches Java.
    try {
      TBXJ_Throw(env, code, std::string(), request);
    } catch (...) {
    }
  }
}

void TBXJ_Construct(JNIEnv* env, jobject self, TBX_HandleKind kind, const char* where,
                    void* (*create)(), void (*destroy)(void*)) noexcept
{
  try {
    jfieldID field = TBXJ_HandleField(env, self);
    if (field == nullptr) {
      TBXJ_Throw(env, TBXJ_E_BINDING, std::string(where) + ": member m_Handle not found");
      return;
    }
    if (env->GetIntField(self, field) != 0) {
      TBXJ_Throw(env, TBXJ_E_BINDING, std::string(where) + ": m_Handle != 0");
      return;
    }
    void* object = create();
    if (object == nullptr)
      throw std::bad_alloc();
    jint handle;
    try {
      handle = TBXJ_HandleTable::Add(kind, object);
    } catch (...) {
      destroy(object);
      throw;
    }
    env->SetIntField(self, field, handle);
  } catch (...) {
    TBXJ_ThrowCurrent(env, where);
  }
}

void TBXJ_Destruct(JNIEnv* env, jobject self, TBX_HandleKind kind, void (*destroy)(void*)) noexcept
{
  jfieldID field = TBXJ_HandleField(env, self);
  if (field == nullptr)
    return;
  std::shared_ptr<TBXJ_Slot> slot = TBXJ_HandleTable::Remove(kind, env->GetIntField(self, field));
  env->SetIntField(self, field, 0);
  if (!slot)
    return;
  std::lock_guard<std::mutex> guard(slot->use);  // waits for a call still running on it
  destroy(slot->object);
  slot->object = nullptr;
}

jint TBXJ_Adopt(void* message)
{
  try {
    return TBXJ_HandleTable::Add(TBX_HANDLE_MESSAGE_OBJECT, message);
  } catch (...) {
    DestroyMessageObject(message);
    throw;
  }
}
