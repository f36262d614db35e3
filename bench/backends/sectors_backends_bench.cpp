// ATLOR_SECTORS work through the database layer, as the optimizer does it, on the Paradox
// back-end (a folder of Paradox tables) and on the SQLite back-end (a database file):
//   Fill     create the table and insert 100,000 rows with OBJECTS values of 1 to 6 KiB
//            (one transaction)
//   Open     close and open the database again, and read one row
//   Lookup   100,000 reads of OBJECTS by ID in random order (the facade's prepared SELECT)
//   Update   a new OBJECTS value for every row in random order (the facade's prepared UPDATE,
//            one transaction, committed)
// The steps run once each, in this order, sharing their database. Counters: peak_MB, the highest
// resident memory of the process during the step; rss_MB after it.
//
// Run: build/bin/backends_bench; ATLOR_BENCH_DIR names the scratch folder (default: the system's
// temporary folder; it needs about 2 GB).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "ardb/ardbs.h"
#include "backends/paradox/pdox_ardbs.h"
#include "backends/sqlite/sqlite_ardb.h"
#include "storage/schema.h"

namespace atlor {
namespace {

constexpr int kRows = 100000;

std::string Id(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "0001%08X", i);
  return b;
}

Bytes Objects(int i, int round) {
  uint64_t x = (static_cast<uint64_t>(i) << 8 | static_cast<uint64_t>(round)) * 0x9E3779B97F4A7C15ull;
  Bytes b(1024 + x % (5 * 1024));
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(x >> (k % 56));
  return b;
}

double StatusMb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + std::strlen(key)) / 1024.0;
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void Report(benchmark::State& state) {
  state.counters["peak_MB"] = StatusMb("VmHWM:");
  state.counters["rss_MB"] = StatusMb("VmRSS:");
}

std::vector<int> Shuffled() {
  std::vector<int> order(kRows);
  for (int i = 0; i < kRows; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  return order;
}

std::filesystem::path ScratchRoot() {
  const char* env = std::getenv("ATLOR_BENCH_DIR");
  return env ? std::filesystem::path(env) : std::filesystem::temp_directory_path();
}

// One back-end's database and where it lies.
struct Backend {
  std::string description;
  IntfPtr<IArDb> (*make)();
  IntfPtr<IArDb> db;
};

Backend& Paradox() {
  static Backend b = [] {
    const auto dir = ScratchRoot() / "atlor-backends-bench-px";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return Backend{TPdoxArDb::MakeDescription(dir.string()),
                   [] { return IntfPtr<IArDb>(new TPdoxArDb()); }, nullptr};
  }();
  return b;
}

Backend& SQLite() {
  static Backend b = [] {
    const auto file = ScratchRoot() / "atlor-backends-bench.sqlite";
    for (const char* tail : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + tail);
    TSQLiteArDb::CreateDatabaseFile(file.string());
    return Backend{TSQLiteArDb::MakeDescription(file.string()),
                   [] { return IntfPtr<IArDb>(new TSQLiteArDb()); }, nullptr};
  }();
  return b;
}

void Fill(benchmark::State& state, Backend& b) {
  ResetPeak();
  for (auto _ : state) {
    b.db = b.make();
    b.db->Open(b.description);
    const AtlorTableSchema* sectors = FindAtlorTable("ATLOR_SECTORS");
    CreateTableFromDefs(*b.db, "ATLOR_SECTORS", sectors->Fields, sectors->Indexes);
    const TArDbParam fields[] = {StringParam("ID"),     StringParam("LAYERID"), FloatParam("BOUNDSL"),
                                 FloatParam("BOUNDSR"), FloatParam("BOUNDST"),  FloatParam("BOUNDSB"),
                                 BinaryParam("OBJECTS")};
    IntfPtr<IArDbSQLCommand> insert = BuildInsertCommand(*b.db, "ATLOR_SECTORS", fields, true);
    b.db->StartTransaction();
    for (int i = 0; i < kRows; ++i)
      insert->Execute({Value(Id(i)), Value("000100000001"), Value(i * 1.0), Value(i + 1.0),
                       Value(i + 1.0), Value(i * 1.0), Value(Objects(i, 0))});
    b.db->Commit();
  }
  Report(state);
}

void Open(benchmark::State& state, Backend& b) {
  if (!b.db) {
    state.SkipWithError("the Fill step of this back-end did not run");
    return;
  }
  ResetPeak();
  for (auto _ : state) {
    b.db->Close();
    b.db = b.make();
    b.db->Open(b.description);
    const TArDbParam key[] = {StringParam("ID")};
    const std::string field[] = {"OBJECTS"};
    IntfPtr<IArDbCursor> c =
        BuildSelectCommand(*b.db, "ATLOR_SECTORS", field, key, true)->Execute({Value(Id(7))});
    benchmark::DoNotOptimize(c->AsBlob(0));
    c->Close();
  }
  Report(state);
}

void Lookup(benchmark::State& state, Backend& b) {
  if (!b.db) {
    state.SkipWithError("the Fill step of this back-end did not run");
    return;
  }
  ResetPeak();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    const TArDbParam key[] = {StringParam("ID")};
    const std::string field[] = {"OBJECTS"};
    IntfPtr<IArDbSQLCommand> select = BuildSelectCommand(*b.db, "ATLOR_SECTORS", field, key, true);
    size_t bytes = 0;
    for (int i : order) {
      IntfPtr<IArDbCursor> c = select->Execute({Value(Id(i))});
      bytes += c->AsBlob(0).BytesRef().size();
      c->Close();
    }
    benchmark::DoNotOptimize(bytes);
  }
  Report(state);
}

void Update(benchmark::State& state, Backend& b) {
  if (!b.db) {
    state.SkipWithError("the Fill step of this back-end did not run");
    return;
  }
  ResetPeak();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    const TArDbParam set[] = {BinaryParam("OBJECTS")};
    const TArDbParam key[] = {StringParam("ID")};
    IntfPtr<IArDbSQLCommand> update = BuildUpdateCommand(*b.db, "ATLOR_SECTORS", set, key, true);
    b.db->StartTransaction();
    for (int i : order) update->Execute({Value(Objects(i, 1)), Value(Id(i))});
    b.db->Commit();
  }
  Report(state);
}

void BM_Paradox_Fill(benchmark::State& s) { Fill(s, Paradox()); }
void BM_Paradox_Open(benchmark::State& s) { Open(s, Paradox()); }
void BM_Paradox_Lookup(benchmark::State& s) { Lookup(s, Paradox()); }
void BM_Paradox_Update(benchmark::State& s) { Update(s, Paradox()); }
void BM_SQLite_Fill(benchmark::State& s) { Fill(s, SQLite()); }
void BM_SQLite_Open(benchmark::State& s) { Open(s, SQLite()); }
void BM_SQLite_Lookup(benchmark::State& s) { Lookup(s, SQLite()); }
void BM_SQLite_Update(benchmark::State& s) { Update(s, SQLite()); }

#define STEP(f) BENCHMARK(f)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime()
STEP(BM_Paradox_Fill);
STEP(BM_Paradox_Open);
STEP(BM_Paradox_Lookup);
STEP(BM_Paradox_Update);
STEP(BM_SQLite_Fill);
STEP(BM_SQLite_Open);
STEP(BM_SQLite_Lookup);
STEP(BM_SQLite_Update);

}  // namespace
}  // namespace atlor

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The scratch databases go with the run.
  for (atlor::Backend* b : {&atlor::Paradox(), &atlor::SQLite()})
    if (b->db) b->db->Close();
  const auto root = atlor::ScratchRoot();
  std::error_code ec;
  std::filesystem::remove_all(root / "atlor-backends-bench-px", ec);
  for (const char* tail : {"", "-wal", "-shm"})
    std::filesystem::remove(root / (std::string("atlor-backends-bench.sqlite") + tail), ec);
  return 0;
}
