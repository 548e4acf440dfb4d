// MessageObject_FromString on any text, on two message objects opened once (the store is read
// only at start-up; each run parses and writes text in memory):
//  - a text that does not restore fails with TBX_E_INVALID_FORMAT and leaves the message as it was;
//  - a restored message is a TBX element whose KEYID is the store's current key, whatever the
//    text carried, and its text form restores to itself on another object (saved texts are stable).
// The input is the text up to its first NUL, as a C caller passes it.
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
const char kStart[] = "<TBX MSGTYPE=\"PayConfirm\" ID=\"7\" NOTE=\"a &amp; b\"/>";
// The text of the message as the last run left it. No reset between runs: a restore costs as
// much as the run, and what a failed restore must leave is known either way.
std::string g_Last;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  const tbxfuzz::Objects& objects = tbxfuzz::SetUpObjects(kStart);
  g_Store = objects.store;
  g_Message = objects.message;
  g_Other = objects.other;
  g_Last = tbxfuzz::Text(g_Message);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string raw(reinterpret_cast<const char*>(data), size);
  const std::string text = raw.substr(0, raw.find('\0'));
  const long r = MessageObject_FromString(g_Message, text.c_str());
  if (r != TBX_OK) {
    if (r != TBX_E_INVALID_FORMAT || tbxfuzz::Text(g_Message) != g_Last)
      std::abort();
    return 0;
  }
  const std::string saved = tbxfuzz::Text(g_Message);
  if (saved.compare(0, 4, "<TBX") != 0 || (saved[4] != ' ' && saved[4] != '>' && saved[4] != '/'))
    std::abort();
  std::string keyId;
  if (!tbxfuzz::Attribute(g_Message, "KEYID", keyId) || keyId != g_Store->MerchantKeyId())
    std::abort();
  if (MessageObject_FromString(g_Other, saved.c_str()) != TBX_OK || tbxfuzz::Text(g_Other) != saved)
    std::abort();
  g_Last = saved;
  return 0;
}
