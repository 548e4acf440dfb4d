/*
 * kestrum_args.h - the argument parser of the kestrum utility.
 *
 * Kept apart from the program so that tests and fuzz targets can drive it directly: it touches no
 * global state, writes nothing and calls nothing of the library. Values point into argv (or into
 * strings returned by the environment lookup), so they live as long as those do.
 */
#ifndef KESTRUM_ARGS_H
#define KESTRUM_ARGS_H

#include <string>

/* One option: its names and its value (null until the option is seen). A descriptor with null
 * names ends every list of descriptors. */
struct KestrumOption
{
  const char* m_LongName;
  const char* m_ShortName;
  const char* m_Value;
};

/* One attribute pair of "--attribute NAME VALUE". A pair with a null name ends the list. */
struct KestrumPair
{
  const char* m_Name;
  const char* m_Value;
};

/* Pairs a command line may carry; a pair array holds one more entry for the end marker. */
constexpr int kKestrumMaxPairs = 99;

/* Looks up an environment variable: null when it is not set. */
typedef const char* (*KestrumEnvLookup)(const char* name);

/*
 * What a command accepts: its required and optional descriptors (each list ended by a descriptor
 * with null names; a null list is empty) and, when `m_Pairs` is not null, attribute pairs written
 * into that array of kKestrumMaxPairs + 1 entries.
 */
struct KestrumCommandArgs
{
  KestrumOption* const* m_Required;
  KestrumOption* const* m_Optional;
  KestrumPair* m_Pairs;
};

/*
 * Parses argv[2] .. argv[argc - 1] (argv[1] is the command) into the command's descriptors and
 * pairs, clearing them first. An option given twice keeps its last value.
 *
 * A descriptor that stays without a value may be filled from the environment before the check for
 * required ones: "--password" from KESTRUM_PASSWORD (non-empty values only), so that a password
 * need not appear on the command line; pass a null `env` to take nothing from it.
 *
 * Returns 0, or TBX_E_INVALID_ARGUMENT with `error` set to the message for standard error
 * ("invalid parameter format\n", "unknown option: %s\n",
 * "too many attribute pairs: a command takes at most 99\n",
 * "unexpected argument %d after the user name; a password goes after -w\n" for an argument
 * that is no option right after the user name's value, which is not shown, or
 * "ERROR: required parameter %s is missing\n").
 */
long KestrumParseArguments(int argc, const char* const* argv, const KestrumCommandArgs& command,
                           KestrumEnvLookup env, std::string& error);

#endif /* KESTRUM_ARGS_H */
