// Ephemeris store: loading 100 000 distinct GPS records (the size of a 13 MB ephemeris
// file) into an empty store, and selecting a record for every PRN after such a load.
// Records are spread over the 32 PRNs, a new toe every 2 hours, weeks one after another.
#include <benchmark/benchmark.h>

#include <vector>

#include "orbit/ephemeris_store.h"

namespace talverin {
namespace bench {
namespace {

constexpr int kStoreRecords = 100000;
constexpr int32_t kToeStep_s = 7200;
constexpr int32_t kFirstWeek = 1274;

std::vector<GpsEph> StoreRecords(int count) {
  std::vector<GpsEph> records;
  records.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    GpsEph r{};
    r.prn = 1 + i % 32;
    const int32_t issue = i / 32;  // 84 issues a week per PRN
    r.week = kFirstWeek + issue / 84;
    r.toe = (issue % 84) * kToeStep_s;
    r.toc = r.toe;
    r.rootA = 5153.7;
    r.e = 0.01;
    r.i0 = 0.96;
    records.push_back(r);
  }
  return records;
}

void BM_StoreLoad(benchmark::State& state) {
  const std::vector<GpsEph> records = StoreRecords(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    EphemerisStore store;
    for (const GpsEph& r : records) benchmark::DoNotOptimize(store.AddGpsEph(r));
    if (store.gpsCount != state.range(0)) state.SkipWithError("records refused");
    state.PauseTiming();  // freeing the nodes is not loading
    store.ClearEphemerides();
    state.ResumeTiming();
  }
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StoreLoad)->Arg(kStoreRecords)->Unit(benchmark::kMillisecond);

void BM_StoreSelect(benchmark::State& state) {
  EphemerisStore store;
  for (const GpsEph& r : StoreRecords(kStoreRecords)) (void)store.AddGpsEph(r);
  double t_s = 0.0;
  for (auto _ : state) {
    // A new time per round, 4001 s on: every lookup misses the cache and searches.
    t_s = t_s >= 600000.0 ? 0.0 : t_s + 4001.0;
    for (int32_t prn = 1; prn <= 32; ++prn) benchmark::DoNotOptimize(store.FindGpsEph(prn, t_s));
  }
  state.SetItemsProcessed(state.iterations() * 32);
}
BENCHMARK(BM_StoreSelect);

}  // namespace
}  // namespace bench
}  // namespace talverin
