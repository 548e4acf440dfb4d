// Helpers of the message fuzz targets: text and attribute reads through the exported functions,
// where any unexpected result ends the run.
#ifndef MESSAGE_FUZZ_H
#define MESSAGE_FUZZ_H

#include <cstdlib>
#include <string>

#include "tbxapp.h"
#include "test_store.h"

namespace tbxfuzz {

// The text form of a message, measured first and then fetched.
inline std::string Text(void* message)
{
  long length = 0;
  if (MessageObject_ToString(message, &length, nullptr) != TBX_E_BUFFER_TOO_SMALL || length < 1)
    std::abort();
  std::string text(static_cast<size_t>(length), '\0');
  if (MessageObject_ToString(message, &length, &text[0]) != TBX_OK ||
      static_cast<size_t>(length) != text.size() || text.back() != '\0')
    std::abort();
  text.pop_back();
  return text;
}

// One attribute's value; false when the message does not have it.
inline bool Attribute(void* message, const char* name, std::string& value)
{
  long length = 0;
  const long r = MessageObject_GetAttribute(message, name, &length, nullptr);
  if (r == TBX_E_ITEM_NOT_FOUND)
    return false;
  if (r != TBX_E_BUFFER_TOO_SMALL || length < 1)
    std::abort();
  std::string read(static_cast<size_t>(length), '\0');
  if (MessageObject_GetAttribute(message, name, &length, &read[0]) != TBX_OK)
    std::abort();
  read.pop_back();
  value = read;
  return true;
}

// A message object opened on the store at `path`.
inline void* Opened(const std::string& path)
{
  void* m = CreateMessageObject();
  if (m == nullptr || MessageObject_Open(m, path.c_str()) != TBX_OK)
    std::abort();
  return m;
}

// The store and two message objects opened on it, made once per process and released at exit.
struct Objects
{
  tbxtest::TestStore* store = nullptr;
  void* message = nullptr;  // holds `start` after SetUpObjects
  void* other = nullptr;
};

inline const Objects& SetUpObjects(const char* start)
{
  static Objects objects;
  objects.store = new tbxtest::TestStore();
  objects.message = Opened(objects.store->Path());
  objects.other = Opened(objects.store->Path());
  if (MessageObject_FromString(objects.message, start) != TBX_OK)
    std::abort();
  std::atexit([] {
    DestroyMessageObject(objects.message);
    DestroyMessageObject(objects.other);
    delete objects.store;
  });
  return objects;
}

}  // namespace tbxfuzz

#endif
