// MessageObject_SetAttribute with any name and value, on two message objects opened once:
//  - a refused name gives TBX_E_INVALID_ARGUMENT and changes nothing;
//  - otherwise the value reads back unchanged, and also after a save and restore on the other
//    object (KEYID excepted: a restore binds the message to the store's key).
// The input is the name and the value separated by a 0x01 byte, ending at the first NUL.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "message_fuzz.h"
#include "tbxapp.h"
#include "test_store.h"

namespace {

tbxtest::TestStore* g_Store;
void* g_Message;
void* g_Other;
const char kStart[] = "<TBX MSGTYPE=\"PayInit\" AMOUNT=\"1560\" NOTE=\"a &amp; b\"/>";
std::string g_StartText;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  const tbxfuzz::Objects& objects = tbxfuzz::SetUpObjects(kStart);
  g_Store = objects.store;
  g_Message = objects.message;
  g_Other = objects.other;
  g_StartText = tbxfuzz::Text(g_Message);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  const size_t cut = text.find('\x01');
  const std::string name = text.substr(0, cut);
  const std::string value = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  if (MessageObject_FromString(g_Message, kStart) != TBX_OK)
    std::abort();

  const long r = MessageObject_SetAttribute(g_Message, name.c_str(), value.c_str());
  if (r != TBX_OK) {
    if (r != TBX_E_INVALID_ARGUMENT || tbxfuzz::Text(g_Message) != g_StartText)
      std::abort();
    return 0;
  }
  if (MessageObject_FromString(g_Other, tbxfuzz::Text(g_Message).c_str()) != TBX_OK)
    std::abort();
  for (void* m : {g_Message, g_Other}) {
    std::string read;
    if (!tbxfuzz::Attribute(m, name.c_str(), read))
      std::abort();
    if (read != value && !(m == g_Other && name == "KEYID"))
      std::abort();
  }
  return 0;
}
