// Command lines for the kestrum parser: the input split at NUL bytes into arguments. Every
// command's shape (with and without pairs, required and optional lists) is tried on each one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kestrum_args.h"
#include "tbxapp.h"

namespace {

const char* Environment(const char* name)
{
  return std::strcmp(name, "KESTRUM_PASSWORD") == 0 ? "secret" : nullptr;
}

bool Contains(const std::vector<std::string>& args, const char* value)
{
  for (const auto& a : args)
    if (a.c_str() == value || a == value)
      return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  std::vector<std::string> args = {"kestrum", "-cmd"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const auto& a : args)
    argv.push_back(a.c_str());

  KestrumOption path = {"--path", "-p", nullptr}, password = {"--password", "-w", nullptr},
                file = {"--filename", "-f", nullptr}, id = {"--identifier", "-i", nullptr},
                last = {nullptr, nullptr, nullptr};
  KestrumOption* const required[] = {&path, &password, &last};
  KestrumOption* const optional[] = {&file, &id, &last};
  KestrumOption* const none[] = {&last};
  KestrumPair pairs[kKestrumMaxPairs + 1];

  const KestrumCommandArgs shapes[] = {
      {required, optional, pairs},
      {required, none, nullptr},
      {none, optional, pairs},
      {nullptr, nullptr, pairs},
  };
  for (const KestrumCommandArgs& shape : shapes) {
    std::string error;
    const long result = KestrumParseArguments(static_cast<int>(argv.size()), argv.data(), shape,
                                              Environment, error);
    if (result != 0 && (result != TBX_E_INVALID_ARGUMENT || error.empty() || error.back() != '\n'))
      std::abort();
    if (result == 0 && !error.empty())
      std::abort();
    // Every value is an argument or the environment's; pairs end within their array.
    for (KestrumOption* o : {&path, &password, &file, &id})
      if (o->m_Value != nullptr && !Contains(args, o->m_Value) &&
          std::strcmp(o->m_Value, "secret") != 0)
        std::abort();
    if (shape.m_Pairs != nullptr && pairs[kKestrumMaxPairs].m_Name != nullptr)
      std::abort();
  }
  return 0;
}
