// Properties of the message object on any input:
//  - FromString of any text either fails with TBX_E_INVALID_FORMAT leaving the message as it was,
//    or succeeds, and then its ToString text restores to itself (saved texts are stable);
//  - SetAttribute with any name and value either refuses the name with TBX_E_INVALID_ARGUMENT,
//    changing nothing, or the value reads back unchanged, also after a save and restore;
//  - VerifyPayConfirm of any text with any signature never verifies and leaves no object.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tbxapp.h"
#include "test_store.h"

namespace {

tbxtest::TestStore* g_Store;
void* g_Factory;

std::string Text(void* message)
{
  long length = 0;
  if (MessageObject_ToString(message, &length, nullptr) != TBX_E_BUFFER_TOO_SMALL)
    abort();
  std::string text(static_cast<size_t>(length), '\0');
  if (MessageObject_ToString(message, &length, &text[0]) != TBX_OK)
    abort();
  text.resize(static_cast<size_t>(length) - 1);
  return text;
}

void* Opened()
{
  void* m = CreateMessageObject();
  if (m == nullptr || MessageObject_Open(m, g_Store->Path().c_str()) != TBX_OK)
    abort();
  return m;
}

void RoundTrip(const std::string& input)
{
  void* m = Opened();
  const std::string before = Text(m);
  const long r = MessageObject_FromString(m, input.c_str());
  if (r != TBX_OK) {
    if (r != TBX_E_INVALID_FORMAT || Text(m) != before)
      abort();
  } else {
    const std::string saved = Text(m);
    void* other = Opened();
    if (MessageObject_FromString(other, saved.c_str()) != TBX_OK || Text(other) != saved)
      abort();
    DestroyMessageObject(other);
  }
  DestroyMessageObject(m);
}

void Attribute(const std::string& name, const std::string& value)
{
  void* m = Opened();
  const std::string before = Text(m);
  const long r = MessageObject_SetAttribute(m, name.c_str(), value.c_str());
  if (r != TBX_OK) {
    if (r != TBX_E_INVALID_ARGUMENT || Text(m) != before)
      abort();
  } else {
    void* other = Opened();
    if (MessageObject_FromString(other, Text(m).c_str()) != TBX_OK)
      abort();
    for (void* h : {m, other}) {
      long length = 0;
      MessageObject_GetAttribute(h, name.c_str(), &length, nullptr);
      std::string read(static_cast<size_t>(length), '\0');
      if (MessageObject_GetAttribute(h, name.c_str(), &length, &read[0]) != TBX_OK)
        abort();
      read.resize(static_cast<size_t>(length) - 1);
      // Values travel up to their first NUL, as C strings do.
      if (read != value.substr(0, value.find('\0')) && name != "KEYID")
        abort();
    }
    DestroyMessageObject(other);
  }
  DestroyMessageObject(m);
}

void Verify(const std::string& data, const std::string& signature)
{
  void* out = nullptr;
  if (MessageFactory_VerifyPayConfirm(g_Factory, data.c_str(), signature.c_str(), &out) == TBX_OK ||
      out != nullptr)
    abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  g_Store = new tbxtest::TestStore();
  g_Factory = CreateMessageFactory();
  MessageFactory_Open(g_Factory, g_Store->Path().c_str());
  std::atexit([] {
    DestroyMessageFactory(g_Factory);
    delete g_Store;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  if (size == 0)
    return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string text = rest.substr(0, rest.find('\0'));
  const size_t cut = text.find('\x01');
  const std::string first = text.substr(0, cut);
  const std::string second = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  switch (data[0] % 3) {
  case 0:
    RoundTrip(text);
    break;
  case 1:
    Attribute(first, second);
    break;
  default:
    Verify(first, second);
    break;
  }
  return 0;
}
