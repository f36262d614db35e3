// A sectors table of 100,000 rows (ATLOR_SECTORS: ID key, LAYERID, four bounds, four child ids
// and an OBJECTS BLOB of a few KiB) through the Paradox engine's SQL, against the same work on
// plain SQLite (a file database in WAL mode, synchronous=FULL, prepared statements):
//   Fill     insert every row and make it durable (engine: Flush; SQLite: one transaction)
//   Open     open the folder / database again and look one row up (the engine loads the table)
//   Lookup   100,000 lookups by ID in random order, reading every column with the BLOB
//   Update   a new OBJECTS value for every row, in random order (engine: a statement each, in
//            memory until the flush, the BLOBs going to the .MB file at once; SQLite: inside
//            one transaction)
//   Flush    make the updates durable (engine: Flush; SQLite: COMMIT)
//   Update2, Flush2: the same once more (the engine reuses the BLOB space the first round freed)
//   UpdateCommit3: a third round inside one SQL transaction, with its COMMIT (the engine keeps
//            an undo log: undo_table_MB is its table's memory before the commit)
// The steps run once each, in this order, and share their database. Counters: peak_MB, the
// highest resident memory of the process during the step; rss_MB, the resident memory after
// it; base_MB, the resident memory before the first step; table_MB, what the engine's table
// holds (records and indexes); file_MB, the size of the .MB file or of the SQLite database and
// its WAL after the step.
//
// Run: bench/pxsql_bench [--benchmark_filter=...]; ATLOR_BENCH_DIR names the scratch folder
// (default: the system's temporary folder; it needs about 2 GB).

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_sql.h"

namespace atlor::pxengine {
namespace {

constexpr int kRows = 100000;

std::string Id(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "0001%08X", i);
  return b;
}

// OBJECTS values: 1 to 6 KiB, contents differing per row and round (cheap to make, so that
// making them weighs little in the timings).
Bytes Objects(int i, int round) {
  uint64_t x = (static_cast<uint64_t>(i) << 8 | static_cast<uint64_t>(round)) * 0x9E3779B97F4A7C15ull;
  x ^= x >> 31;
  Bytes b(1024 + x % (5 * 1024));
  uint8_t* p = b.data();
  size_t n = b.size();
  for (; n >= 8; n -= 8, p += 8) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    std::memcpy(p, &x, 8);
  }
  for (; n > 0; --n) *p++ = static_cast<uint8_t>(x >>= 8);
  return b;
}

std::vector<int> Shuffled() {
  std::vector<int> order(kRows);
  for (int i = 0; i < kRows; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(42));
  return order;
}

// Resident memory, from /proc/self/status, in MB.
double StatusMb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atof(line.c_str() + std::strlen(key)) / 1024.0;
  return 0;
}

// Starts a step: the peak resident memory starts again from the current one.
void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

double g_base_mb = 0;

void Report(benchmark::State& state, double file_mb, double table_mb) {
  state.counters["peak_MB"] = StatusMb("VmHWM:");
  state.counters["rss_MB"] = StatusMb("VmRSS:");
  state.counters["base_MB"] = g_base_mb;
  state.counters["file_MB"] = file_mb;
  if (table_mb > 0) state.counters["table_MB"] = table_mb;
}

std::string ScratchRoot() {
  const char* env = std::getenv("ATLOR_BENCH_DIR");
  return env ? env : std::filesystem::temp_directory_path().string();
}

double FileMb(const std::filesystem::path& p) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(p, ec);
  return ec ? 0 : static_cast<double>(n) / (1024.0 * 1024.0);
}

// ---------------------------------------------------------------- engine

struct Px {
  std::filesystem::path dir;
  std::unique_ptr<Database> db;
  std::unique_ptr<SqlConnection> sql;
  SqlStatement get, set_blob;

  void OpenSql() {
    sql = std::make_unique<SqlConnection>(*db);
    get = sql->Prepare("SELECT * FROM \"ATLOR_SECTORS\" WHERE \"ID\"=:PARAM0");
    set_blob = sql->Prepare("UPDATE \"ATLOR_SECTORS\" SET \"OBJECTS\"=:PARAM0 WHERE \"ID\"=:PARAM1");
  }
  double TableMb() { return static_cast<double>(db->OpenTable("ATLOR_SECTORS").MemoryUse()) / (1024.0 * 1024.0); }
  double MbFileMb() { return FileMb(dir / "ATLOR_SECTORS.MB"); }
};

Px& px() {
  static Px p;
  return p;
}

void BM_Engine_Fill(benchmark::State& state) {
  Px& p = px();
  for (auto _ : state) {
    p.dir = std::filesystem::path(ScratchRoot()) / ("pxsql-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(p.dir);
    std::filesystem::create_directories(p.dir);
    ResetPeak();
    p.db = Database::Open(p.dir.string());
    std::vector<FieldDef> fields = {{"ID", FieldType::kAlpha, 12, true},      {"LAYERID", FieldType::kAlpha, 12, false},
                                    {"BOUNDSL", FieldType::kNumber, 0, false}, {"BOUNDSR", FieldType::kNumber, 0, false},
                                    {"BOUNDST", FieldType::kNumber, 0, false}, {"BOUNDSB", FieldType::kNumber, 0, false},
                                    {"S0", FieldType::kAlpha, 12, false},      {"S1", FieldType::kAlpha, 12, false},
                                    {"S2", FieldType::kAlpha, 12, false},      {"S3", FieldType::kAlpha, 12, false},
                                    {"OBJECTS", FieldType::kBinary, 0, false}};
    p.db->CreateTable("ATLOR_SECTORS", fields,
                      {IndexDef{"", {"ID"}, true, true, false, false},
                       IndexDef{"LAYERID", {"LAYERID"}, false, false, false, false}});
    p.OpenSql();
    SqlStatement insert = p.sql->Prepare(
        "INSERT INTO \"ATLOR_SECTORS\" (\"ID\",\"LAYERID\",\"BOUNDSL\",\"BOUNDSR\",\"BOUNDST\",\"BOUNDSB\",\"S0\","
        "\"S1\",\"S2\",\"S3\",\"OBJECTS\") VALUES (:PARAM0,:PARAM1,:PARAM2,:PARAM3,:PARAM4,:PARAM5,:PARAM6,"
        ":PARAM7,:PARAM8,:PARAM9,:PARAM10)");
    for (int i = 0; i < kRows; ++i) {
      insert.Bind(0, Value(Id(i)));
      insert.Bind(1, Value(Id(i % 50)));
      insert.Bind(2, Value(i * 1.0));
      insert.Bind(3, Value(i * 1.0 + 10));
      insert.Bind(4, Value(i * 2.0 + 10));
      insert.Bind(5, Value(i * 2.0));
      for (int k = 0; k < 4; ++k) insert.Bind(6 + k, i % 3 ? Value::Null() : Value(Id(4 * i + k + 1)));
      insert.Bind(10, Value(Objects(i, 0)));
      insert.Execute();
    }
    p.db->Flush();
  }
  Report(state, p.MbFileMb(), p.TableMb());
}

void BM_Engine_Open(benchmark::State& state) {
  Px& p = px();
  for (auto _ : state) {
    p.get = SqlStatement();
    p.set_blob = SqlStatement();
    p.sql.reset();
    p.db.reset();
    ResetPeak();
    p.db = Database::Open(p.dir.string());
    p.OpenSql();
    p.get.Bind(0, Value(Id(1)));
    if (!p.get.Step()) state.SkipWithError("row not found");
    p.get.Reset();
  }
  Report(state, p.MbFileMb(), p.TableMb());
}

void BM_Engine_Lookup(benchmark::State& state) {
  Px& p = px();
  const std::vector<int> order = Shuffled();
  size_t bytes = 0;
  for (auto _ : state) {
    ResetPeak();
    p.sql->ResetStats();
    for (int i : order) {
      p.get.Bind(0, Value(Id(i)));
      if (!p.get.Step()) {
        state.SkipWithError("row not found");
        break;
      }
      for (int c = 0; c < 10; ++c) benchmark::DoNotOptimize(p.get.ColumnValue(c));
      bytes += p.get.ColumnValue(10).BytesRef().size();
      p.get.Reset();
    }
    if (p.sql->Stats().full_scans != 0) state.SkipWithError("a lookup walked the table");
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  Report(state, p.MbFileMb(), p.TableMb());
}

void EngineUpdate(benchmark::State& state, int round) {
  Px& p = px();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    ResetPeak();
    for (int i : order) {
      state.PauseTiming();
      Value v(Objects(i, round));
      state.ResumeTiming();
      p.set_blob.Bind(0, v);
      p.set_blob.Bind(1, Value(Id(i)));
      if (p.set_blob.Execute() != 1) {
        state.SkipWithError("row not updated");
        break;
      }
    }
  }
  Report(state, p.MbFileMb(), p.TableMb());
}

void EngineFlush(benchmark::State& state) {
  Px& p = px();
  for (auto _ : state) {
    ResetPeak();
    p.db->Flush();
  }
  Report(state, p.MbFileMb(), p.TableMb());
}

void BM_Engine_Update(benchmark::State& state) { EngineUpdate(state, 1); }
void BM_Engine_Flush(benchmark::State& state) { EngineFlush(state); }
void BM_Engine_Update2(benchmark::State& state) { EngineUpdate(state, 2); }
void BM_Engine_Flush2(benchmark::State& state) { EngineFlush(state); }

// A third round inside one SQL transaction: the updates, then COMMIT (which flushes).
void BM_Engine_UpdateCommit3(benchmark::State& state) {
  Px& p = px();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    ResetPeak();
    p.sql->Execute("BEGIN");
    for (int i : order) {
      state.PauseTiming();
      Value v(Objects(i, 3));
      state.ResumeTiming();
      p.set_blob.Bind(0, v);
      p.set_blob.Bind(1, Value(Id(i)));
      if (p.set_blob.Execute() != 1) {
        state.SkipWithError("row not updated");
        break;
      }
    }
    state.counters["undo_table_MB"] = p.TableMb();
    p.sql->Execute("COMMIT");
  }
  Report(state, p.MbFileMb(), p.TableMb());
  // Check a few rows, then clean up.
  for (int i : {0, 12345, kRows - 1}) {
    p.get.Bind(0, Value(Id(i)));
    if (!p.get.Step() || p.get.ColumnValue(10) != Value(Objects(i, 3))) state.SkipWithError("wrong OBJECTS value");
    p.get.Reset();
  }
  p.get = SqlStatement();
  p.set_blob = SqlStatement();
  p.sql.reset();
  p.db.reset();
  std::filesystem::remove_all(p.dir);
}

// ---------------------------------------------------------------- SQLite

struct Lite {
  std::filesystem::path dir, file;
  sqlite3* db = nullptr;
  sqlite3_stmt* get = nullptr;
  sqlite3_stmt* set_blob = nullptr;

  void Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
      std::fprintf(stderr, "%s: %s\n", sql, err);
      std::abort();
    }
  }
  sqlite3_stmt* Prep(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
      std::abort();
    }
    return s;
  }
  void Open() {
    sqlite3_open(file.c_str(), &db);
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL");
    get = Prep("SELECT * FROM ATLOR_SECTORS WHERE ID=?1");
    set_blob = Prep("UPDATE ATLOR_SECTORS SET OBJECTS=?1 WHERE ID=?2");
  }
  void Close() {
    sqlite3_finalize(get);
    sqlite3_finalize(set_blob);
    get = set_blob = nullptr;
    sqlite3_close(db);
    db = nullptr;
  }
  double FilesMb() { return FileMb(file) + FileMb(file.string() + "-wal"); }
};

Lite& lite() {
  static Lite l;
  return l;
}

void BindText(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

void BM_Sqlite_Fill(benchmark::State& state) {
  Lite& l = lite();
  for (auto _ : state) {
    l.dir = std::filesystem::path(ScratchRoot()) / ("sqlite-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(l.dir);
    std::filesystem::create_directories(l.dir);
    l.file = l.dir / "atlor.db";
    ResetPeak();
    sqlite3_open(l.file.c_str(), &l.db);
    l.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL");
    l.Exec(
        "CREATE TABLE ATLOR_SECTORS (ID TEXT NOT NULL PRIMARY KEY, LAYERID TEXT, BOUNDSL REAL, BOUNDSR REAL, "
        "BOUNDST REAL, BOUNDSB REAL, S0 TEXT, S1 TEXT, S2 TEXT, S3 TEXT, OBJECTS BLOB);"
        "CREATE INDEX ATLOR_SECTORS_LAYERID ON ATLOR_SECTORS(LAYERID)");
    sqlite3_stmt* insert = l.Prep("INSERT INTO ATLOR_SECTORS VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)");
    l.Exec("BEGIN");
    for (int i = 0; i < kRows; ++i) {
      BindText(insert, 1, Id(i));
      BindText(insert, 2, Id(i % 50));
      sqlite3_bind_double(insert, 3, i * 1.0);
      sqlite3_bind_double(insert, 4, i * 1.0 + 10);
      sqlite3_bind_double(insert, 5, i * 2.0 + 10);
      sqlite3_bind_double(insert, 6, i * 2.0);
      for (int k = 0; k < 4; ++k) {
        if (i % 3)
          sqlite3_bind_null(insert, 7 + k);
        else
          BindText(insert, 7 + k, Id(4 * i + k + 1));
      }
      const Bytes b = Objects(i, 0);
      sqlite3_bind_blob(insert, 11, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(l.db));
      sqlite3_reset(insert);
    }
    l.Exec("COMMIT");
    sqlite3_finalize(insert);
  }
  Report(state, l.FilesMb(), 0);
}

void BM_Sqlite_Open(benchmark::State& state) {
  Lite& l = lite();
  for (auto _ : state) {
    sqlite3_close(l.db);
    l.db = nullptr;
    ResetPeak();
    l.Open();
    BindText(l.get, 1, Id(1));
    if (sqlite3_step(l.get) != SQLITE_ROW) state.SkipWithError("row not found");
    sqlite3_reset(l.get);
  }
  Report(state, l.FilesMb(), 0);
}

void BM_Sqlite_Lookup(benchmark::State& state) {
  Lite& l = lite();
  const std::vector<int> order = Shuffled();
  size_t bytes = 0;
  for (auto _ : state) {
    ResetPeak();
    for (int i : order) {
      BindText(l.get, 1, Id(i));
      if (sqlite3_step(l.get) != SQLITE_ROW) {
        state.SkipWithError("row not found");
        break;
      }
      // The same work as the engine's side: every column as a value of the program.
      for (int c = 0; c < 10; ++c) {
        switch (sqlite3_column_type(l.get, c)) {
          case SQLITE_TEXT:
            benchmark::DoNotOptimize(Value(std::string(reinterpret_cast<const char*>(sqlite3_column_text(l.get, c)),
                                                       sqlite3_column_bytes(l.get, c))));
            break;
          case SQLITE_FLOAT:
            benchmark::DoNotOptimize(Value(sqlite3_column_double(l.get, c)));
            break;
          default:
            benchmark::DoNotOptimize(Value::Null());
        }
      }
      const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(l.get, 10));
      Value v(Bytes(p, p + sqlite3_column_bytes(l.get, 10)));
      bytes += v.BytesRef().size();
      sqlite3_reset(l.get);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  Report(state, l.FilesMb(), 0);
}

void SqliteUpdate(benchmark::State& state, int round) {
  Lite& l = lite();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    ResetPeak();
    l.Exec("BEGIN");
    for (int i : order) {
      state.PauseTiming();
      const Bytes b = Objects(i, round);
      state.ResumeTiming();
      sqlite3_bind_blob(l.set_blob, 1, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
      BindText(l.set_blob, 2, Id(i));
      if (sqlite3_step(l.set_blob) != SQLITE_DONE || sqlite3_changes(l.db) != 1) {
        state.SkipWithError("row not updated");
        break;
      }
      sqlite3_reset(l.set_blob);
    }
  }
  Report(state, l.FilesMb(), 0);
}

void SqliteFlush(benchmark::State& state) {
  Lite& l = lite();
  for (auto _ : state) {
    ResetPeak();
    l.Exec("COMMIT");
  }
  Report(state, l.FilesMb(), 0);
}

void BM_Sqlite_Update(benchmark::State& state) { SqliteUpdate(state, 1); }
void BM_Sqlite_Flush(benchmark::State& state) { SqliteFlush(state); }
void BM_Sqlite_Update2(benchmark::State& state) { SqliteUpdate(state, 2); }
void BM_Sqlite_Flush2(benchmark::State& state) { SqliteFlush(state); }
void BM_Sqlite_UpdateCommit3(benchmark::State& state) {
  Lite& l = lite();
  const std::vector<int> order = Shuffled();
  for (auto _ : state) {
    ResetPeak();
    l.Exec("BEGIN");
    for (int i : order) {
      state.PauseTiming();
      const Bytes b = Objects(i, 3);
      state.ResumeTiming();
      sqlite3_bind_blob(l.set_blob, 1, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
      BindText(l.set_blob, 2, Id(i));
      if (sqlite3_step(l.set_blob) != SQLITE_DONE || sqlite3_changes(l.db) != 1) {
        state.SkipWithError("row not updated");
        break;
      }
      sqlite3_reset(l.set_blob);
    }
    l.Exec("COMMIT");
  }
  Report(state, l.FilesMb(), 0);
  l.Close();
  std::filesystem::remove_all(l.dir);
}

#define STEP(f) BENCHMARK(f)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime()
STEP(BM_Engine_Fill);
STEP(BM_Engine_Open);
STEP(BM_Engine_Lookup);
STEP(BM_Engine_Update);
STEP(BM_Engine_Flush);
STEP(BM_Engine_Update2);
STEP(BM_Engine_Flush2);
STEP(BM_Engine_UpdateCommit3);
STEP(BM_Sqlite_Fill);
STEP(BM_Sqlite_Open);
STEP(BM_Sqlite_Lookup);
STEP(BM_Sqlite_Update);
STEP(BM_Sqlite_Flush);
STEP(BM_Sqlite_Update2);
STEP(BM_Sqlite_Flush2);
STEP(BM_Sqlite_UpdateCommit3);

}  // namespace
}  // namespace atlor::pxengine

int main(int argc, char** argv) {
  atlor::pxengine::g_base_mb = atlor::pxengine::StatusMb("VmRSS:");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
