// MvString appends and MvStrMap insert/find, each beside the standard container doing the same
// work in the same run. Compare the pairs as ratios (Mv / std).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "mvmap.h"
#include "mvstring.h"

namespace {

const int kChars = 1 << 20;           // single-character appends per run
const size_t kPiece = 1024;           // piece size of the bulk appends
const size_t kBulkTotal = 16u << 20;  // bulk appends stop at 16 MiB

void MvString_AppendChar(benchmark::State& state)
{
  for (auto _ : state) {
    MvString s;
    for (int i = 0; i < kChars; ++i)
      s.append(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kChars);
}

void StdString_AppendChar(benchmark::State& state)
{
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kChars; ++i)
      s.push_back(static_cast<char>('a' + (i & 15)));
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kChars);
}

void MvString_Append1KiB(benchmark::State& state)
{
  const std::string piece(kPiece, 'x');
  const MvString mpiece(piece.c_str(), unsigned(kPiece));
  for (auto _ : state) {
    MvString s;
    for (size_t n = 0; n < kBulkTotal; n += kPiece)
      s.append(mpiece);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulkTotal));
}

void StdString_Append1KiB(benchmark::State& state)
{
  const std::string piece(kPiece, 'x');
  for (auto _ : state) {
    std::string s;
    for (size_t n = 0; n < kBulkTotal; n += kPiece)
      s.append(piece);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBulkTotal));
}

std::vector<std::string> makeKeys(int n)
{
  std::vector<std::string> keys;
  char buf[32];
  for (int i = 0; i < n; ++i) {
    // Scattered keys of varying length, as attribute names and store values are.
    std::snprintf(buf, sizeof buf, "KEY%u", unsigned(i) * 2654435761u % 1000003u);
    keys.push_back(buf);
  }
  return keys;
}

void MvStrMap_InsertFind(benchmark::State& state)
{
  const std::vector<std::string> keys = makeKeys(int(state.range(0)));
  std::vector<MvString> mkeys;
  for (const std::string& k : keys)
    mkeys.emplace_back(k.c_str());
  const MvString value("value");
  for (auto _ : state) {
    MvStrMap m;
    for (const MvString& k : mkeys)
      m[k] = value;
    size_t found = 0;
    for (const MvString& k : mkeys)
      found += m.lookup(k) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void StdMap_InsertFind(benchmark::State& state)
{
  const std::vector<std::string> keys = makeKeys(int(state.range(0)));
  const std::string value("value");
  for (auto _ : state) {
    std::map<std::string, std::string> m;
    for (const std::string& k : keys)
      m[k] = value;
    size_t found = 0;
    for (const std::string& k : keys)
      found += m.find(k) != m.end();
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(MvString_AppendChar)->Unit(benchmark::kMillisecond);
BENCHMARK(StdString_AppendChar)->Unit(benchmark::kMillisecond);
BENCHMARK(MvString_Append1KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(StdString_Append1KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(MvStrMap_InsertFind)->Arg(16)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(StdMap_InsertFind)->Arg(16)->Arg(10000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
