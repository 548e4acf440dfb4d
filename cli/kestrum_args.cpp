#include "kestrum_args.h"

#include <cstring>

#include "tbxapp.h"

namespace {

// Descriptors that may come from the environment when the command line leaves them out.
struct EnvFallback
{
  const char* longName;
  const char* variable;
};

const EnvFallback kEnvFallbacks[] = {
    {"--password", "KESTRUM_PASSWORD"},
};

bool IsEnd(const KestrumOption* option)
{
  return option == nullptr || (option->m_LongName == nullptr && option->m_ShortName == nullptr);
}

void Clear(KestrumOption* const* list)
{
  for (; list != nullptr && !IsEnd(*list); ++list)
    (*list)->m_Value = nullptr;
}

bool Matches(const KestrumOption* option, const char* arg)
{
  return (option->m_ShortName != nullptr && std::strcmp(arg, option->m_ShortName) == 0) ||
         (option->m_LongName != nullptr && std::strcmp(arg, option->m_LongName) == 0);
}

KestrumOption* Find(KestrumOption* const* list, const char* arg)
{
  for (; list != nullptr && !IsEnd(*list); ++list)
    if (Matches(*list, arg))
      return *list;
  return nullptr;
}

void FillFromEnvironment(KestrumOption* const* list, KestrumEnvLookup env)
{
  for (; list != nullptr && !IsEnd(*list); ++list) {
    KestrumOption* option = *list;
    if (option->m_Value != nullptr || option->m_LongName == nullptr)
      continue;
    for (const EnvFallback& fallback : kEnvFallbacks) {
      if (std::strcmp(option->m_LongName, fallback.longName) != 0)
        continue;
      const char* value = env(fallback.variable);
      if (value != nullptr && *value != '\0')
        option->m_Value = value;
    }
  }
}

long Fail(std::string& error, const char* message, const char* subject)
{
  error = message;
  if (subject != nullptr) {
    // The messages carry one %s each; the subject is an argument and is copied as it stands.
    const size_t at = error.find("%s");
    error.replace(at, 2, subject);
  }
  return TBX_E_INVALID_ARGUMENT;
}

}  // namespace

long KestrumParseArguments(int argc, const char* const* argv, const KestrumCommandArgs& command,
                           KestrumEnvLookup env, std::string& error)
{
  Clear(command.m_Required);
  Clear(command.m_Optional);
  if (command.m_Pairs != nullptr)
    for (int i = 0; i <= kKestrumMaxPairs; ++i)
      command.m_Pairs[i] = KestrumPair{nullptr, nullptr};

  int pairs = 0;
  // The option whose value the previous argument was.
  const KestrumOption* valueOf = nullptr;
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i] != nullptr ? argv[i] : "";
    const bool isPair = std::strcmp(arg, "--attribute") == 0 || std::strcmp(arg, "-a") == 0;
    if (command.m_Pairs != nullptr && isPair && pairs == kKestrumMaxPairs)
      return Fail(error, "too many attribute pairs: a command takes at most %s\n",
                  std::to_string(kKestrumMaxPairs).c_str());
    if (command.m_Pairs != nullptr && isPair) {
      if (i + 2 >= argc || argv[i + 1] == nullptr || argv[i + 2] == nullptr)
        return Fail(error, "invalid parameter format\n", nullptr);
      command.m_Pairs[pairs].m_Name = argv[i + 1];
      command.m_Pairs[pairs].m_Value = argv[i + 2];
      ++pairs;
      i += 2;
      valueOf = nullptr;
      continue;
    }
    KestrumOption* option = Find(command.m_Required, arg);
    if (option == nullptr)
      option = Find(command.m_Optional, arg);
    // A stray argument right after the user name is most likely a password typed without -w:
    // it is not shown.
    if (option == nullptr && valueOf != nullptr && valueOf->m_LongName != nullptr &&
        std::strcmp(valueOf->m_LongName, "--username") == 0)
      return Fail(error, "unexpected argument %s after the user name; a password goes after -w\n",
                  std::to_string(i).c_str());
    if (option == nullptr)
      return Fail(error, "unknown option: %s\n", arg);
    if (i + 1 >= argc || argv[i + 1] == nullptr)
      return Fail(error, "invalid parameter format\n", nullptr);
    option->m_Value = argv[++i];
    valueOf = option;
  }

  if (env != nullptr) {
    FillFromEnvironment(command.m_Required, env);
    FillFromEnvironment(command.m_Optional, env);
  }
  for (KestrumOption* const* list = command.m_Required; list != nullptr && !IsEnd(*list); ++list)
    if ((*list)->m_Value == nullptr)
      return Fail(error, "ERROR: required parameter %s is missing\n",
                  (*list)->m_LongName != nullptr ? (*list)->m_LongName : (*list)->m_ShortName);
  return 0;
}
