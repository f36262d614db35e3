// The sample-database generator: a whole database of N objects (4 layers, mixed trees, the
// current format) written into a new SQLite file. 100,000 objects should take a few seconds.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "backends/sqlite/sqlite_ardb.h"
#include "tools/sample_generator.h"

namespace {

namespace fs = std::filesystem;

void BM_GenerateSampleDatabase(benchmark::State& state) {
  std::string folder = (fs::temp_directory_path() / "atlor-sample-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  atlor::sample::TSampleOptions options;
  options.Seed = 7;
  options.Layers = 4;
  options.Objects = static_cast<int>(state.range(0));
  int run = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string file = folder + "/bench" + std::to_string(run++) + ".sqlite";
    atlor::TSQLiteArDb::CreateDatabaseFile(file);
    atlor::IntfPtr<atlor::IArDb> db(new atlor::TSQLiteArDb);
    db->Open(atlor::TSQLiteArDb::MakeDescription(file));
    state.ResumeTiming();
    atlor::sample::GenerateSampleDatabase(*db, options);
    db->Close();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::error_code ec;
  fs::remove_all(folder, ec);
}
BENCHMARK(BM_GenerateSampleDatabase)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
