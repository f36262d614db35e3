// Savepoints, and the space of the .MB file: BLOBs written at once into space the .DB on disk
// does not use, that space given back after a flush, and the family on disk intact whatever
// happens before the flush.

#include <gtest/gtest.h>

#include <filesystem>

#include "backends/paradox/engine/px_check.h"
#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_format.h"
#include "px_test_util.h"

namespace atlor::pxengine {
namespace {

using testing::ScratchDir;

std::string Id(int i) {
  char b[16];
  std::snprintf(b, sizeof b, "%012d", i);
  return b;
}

// Blobs of both kinds: shared-block ones (<= 2 KiB) and single-block ones.
Bytes Blob(int i, int round) {
  Bytes b(i % 4 == 0 ? 700 + i % 300 : 2500 + (i * 37) % 3000);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k + i * 3 + round * 11);
  return b;
}

void MakeTable(Database& db, int n) {
  IndexDef pk;
  pk.primary = true;
  pk.fields = {"ID"};
  IndexDef by_group;
  by_group.name = "GRP";
  by_group.fields = {"GRP"};
  db.CreateTable("T", {{"ID", FieldType::kAlpha, 12, true}, {"GRP", FieldType::kLong, 0, false},
                       {"DATA", FieldType::kBinary, 0, false}},
                 {pk, by_group});
  Table& t = db.OpenTable("T");
  for (int i = 0; i < n; ++i) t.Insert({Value(Id(i)), Value(int32_t(i % 10)), Value(Blob(i, 0))});
  db.Flush();
}

void RewriteAll(Table& t, int n, int round) {
  for (int i = 0; i < n; ++i) t.SetValue(*t.FindKey({Value(Id(i))}), 2, Value(Blob(i, round)));
}

void ExpectRound(Table& t, int n, int round) {
  for (int i = 0; i < n; ++i) ASSERT_EQ(t.Get(*t.FindKey({Value(Id(i))}), 2), Value(Blob(i, round))) << i;
}

TEST(PxSpace, RewritingEveryBlobReusesTheFreedSpace) {
  ScratchDir dir;
  const int n = 300;
  auto db = Database::Open(dir.Str());
  MakeTable(*db, n);
  Table& t = db->OpenTable("T");
  const auto one = std::filesystem::file_size(dir.Path() / "T.MB");
  // The first rewrite must not touch the space the .DB on disk uses: the file grows once.
  RewriteAll(t, n, 1);
  db->Flush();
  const auto two = std::filesystem::file_size(dir.Path() / "T.MB");
  EXPECT_GT(two, one + one / 2);
  for (int round = 2; round < 6; ++round) {
    RewriteAll(t, n, round);
    db->Flush();
    EXPECT_LE(std::filesystem::file_size(dir.Path() / "T.MB"), two + two / 10) << round;
    ExpectRound(t, n, round);
  }
  EXPECT_EQ(CheckFamily(dir.Str(), "T"), std::vector<std::string>{});
  // A new session finds the garbage of the last one and reuses it.
  db.reset();
  db = Database::Open(dir.Str());
  Table& u = db->OpenTable("T");
  ExpectRound(u, n, 5);
  RewriteAll(u, n, 6);
  db->Flush();
  EXPECT_LE(std::filesystem::file_size(dir.Path() / "T.MB"), two + two / 10);
  db.reset();
  db = Database::Open(dir.Str());
  ExpectRound(db->OpenTable("T"), n, 6);
}

TEST(PxSpace, BlobRewrittenManyTimesBeforeAFlushDoesNotPileUp) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  MakeTable(*db, 10);
  Table& t = db->OpenTable("T");
  const auto before = std::filesystem::file_size(dir.Path() / "T.MB");
  const RowId r = *t.FindKey({Value(Id(1))});
  for (int round = 1; round < 200; ++round) t.SetValue(r, 2, Value(Blob(1, round)));
  EXPECT_LT(std::filesystem::file_size(dir.Path() / "T.MB"), before + 4 * 4096);
  db->Flush();
  EXPECT_EQ(t.Get(r, 2), Value(Blob(1, 199)));
}

// A session that writes BLOBs and stops without flushing leaves the family as last flushed,
// also when its BLOBs went into space freed by earlier flushes.
TEST(PxSpace, UnflushedBlobWritesLeaveTheFamilyIntact) {
  ScratchDir dir;
  const int n = 120;
  {
    auto db = Database::Open(dir.Str());
    MakeTable(*db, n);
    Table& t = db->OpenTable("T");
    RewriteAll(t, n, 1);
    db->Flush();  // round 0's space is free now
    RewriteAll(t, n, 2);
    for (int i = 0; i < n; i += 3) t.Delete(*t.FindKey({Value(Id(i))}));
    t.Insert({Value(Id(n + 1)), Value(int32_t{1}), Value(Blob(5, 9))});
  }  // no flush: the process "stops"
  auto db = Database::Open(dir.Str());
  Table& t = db->OpenTable("T");
  EXPECT_EQ(t.RecordCount(), static_cast<uint32_t>(n));
  ExpectRound(t, n, 1);
  EXPECT_EQ(CheckFamily(dir.Str(), "T"), std::vector<std::string>{});
}

// Deleted rows and BLOBs set blank before the first BLOB write of a session: their places are
// still the .DB's on disk and must not be reused before the flush.
TEST(PxSpace, PlacesLostBeforeTheFirstWriteStayReserved) {
  ScratchDir dir;
  const int n = 60;
  {
    auto db = Database::Open(dir.Str());
    MakeTable(*db, n);
  }
  {
    auto db = Database::Open(dir.Str());
    Table& t = db->OpenTable("T");
    for (int i = 0; i < n; i += 2) t.Delete(*t.FindKey({Value(Id(i))}));
    for (int i = 1; i < n; i += 4) t.SetValue(*t.FindKey({Value(Id(i))}), 2, Value::Null());
    for (int i = 3; i < n; i += 4) t.SetValue(*t.FindKey({Value(Id(i))}), 2, Value(Blob(i, 7)));
    for (int i = 0; i < n; ++i) t.Insert({Value(Id(1000 + i)), Value(int32_t{1}), Value(Blob(i, 8))});
  }  // no flush
  auto db = Database::Open(dir.Str());
  ExpectRound(db->OpenTable("T"), n, 0);
}

TEST(PxSpace, SavepointsNestAndUndo) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  MakeTable(*db, 20);
  Table& t = db->OpenTable("T");
  const RowId r1 = *t.FindKey({Value(Id(1))});
  // On their own: a savepoint guards a group of changes.
  db->Savepoint();
  t.SetValue(r1, 1, Value(int32_t{77}));
  t.Delete(*t.FindKey({Value(Id(2))}));
  t.Insert({Value(Id(500)), Value(int32_t{77}), Value(Blob(500, 0))});
  EXPECT_THROW(db->Flush(), EPxError);
  EXPECT_THROW(db->CreateTable("X", {{"A", FieldType::kLong, 0, false}}, {}), EPxError);
  db->RollbackToSavepoint();
  EXPECT_EQ(t.RecordCount(), 20u);
  EXPECT_EQ(t.FindEqual(1, {Value(int32_t{77})}).size(), 0u);
  t.SetValue(r1, 1, Value(int32_t{78}));
  db->ReleaseSavepoint();
  EXPECT_EQ(db->SavepointCount(), 0);
  EXPECT_EQ(t.Get(r1, 1), Value(int32_t{78}));
  EXPECT_THROW(db->ReleaseSavepoint(), EPxError);
  // Inside a transaction, nested: rolling back the inner level keeps the outer changes.
  db->StartTransaction();
  t.SetValue(r1, 2, Value(Blob(1, 5)));
  db->Savepoint();
  t.SetValue(r1, 2, Value(Blob(1, 6)));
  db->Savepoint();
  t.Delete(r1);
  db->RollbackToSavepoint();
  db->ReleaseSavepoint();
  EXPECT_EQ(t.Get(r1, 2), Value(Blob(1, 6)));
  db->RollbackToSavepoint();
  EXPECT_EQ(t.Get(r1, 2), Value(Blob(1, 5)));
  db->ReleaseSavepoint();
  db->Rollback();
  EXPECT_EQ(t.Get(r1, 2), Value(Blob(1, 0)));
  db->StartTransaction();
  db->Savepoint();
  t.SetValue(r1, 2, Value(Blob(1, 3)));
  db->Commit();  // closes the savepoint too
  EXPECT_EQ(db->SavepointCount(), 0);
  db.reset();
  db = Database::Open(dir.Str());
  EXPECT_EQ(db->OpenTable("T").Get(r1, 2), Value(Blob(1, 3)));
}

// A commit that writes one table and then fails on another stays undoable; rolling it back
// must leave the written table marked changed, so that the next flush writes the undone state.
TEST(PxSpace, RollbackAfterAFailedCommitRewritesWrittenTables) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  MakeTable(*db, 5);
  db->CreateTable("U", {{"ID", FieldType::kLong, 0, false}}, {});
  Table& t = db->OpenTable("T");
  Table& u = db->OpenTable("U");
  db->StartTransaction();
  t.SetValue(*t.FindKey({Value(Id(1))}), 2, Value(Blob(1, 4)));
  u.Insert({Value(int32_t{1})});
  db->SetFailureHook([](const std::string& s) {
    if (s == "write U.DB") throw EPxIoError("injected");
  });
  EXPECT_THROW(db->Commit(), EPxIoError);
  db->SetFailureHook(nullptr);
  EXPECT_TRUE(db->InTransaction());
  db->Rollback();
  EXPECT_TRUE(t.Modified());
  db->Flush();
  db.reset();
  db = Database::Open(dir.Str());
  ExpectRound(db->OpenTable("T"), 5, 0);
  EXPECT_EQ(db->OpenTable("U").RecordCount(), 0u);
}

TEST(PxSpace, RenameWritesTheNewNameIntoTheHeaders) {
  ScratchDir dir;
  auto db = Database::Open(dir.Str());
  MakeTable(*db, 400);  // several blocks
  db->RenameTable("T", "RENAMED");
  for (const char* f : {"RENAMED.DB", "RENAMED.PX"}) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(dir.Path() / f));
    FILE* in = std::fopen((dir.Path() / f).c_str(), "rb");
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
    std::fclose(in);
    const format::FileHeader h = format::ParseHeader(f, bytes.data(), bytes.size());
    EXPECT_EQ(h.table_name, std::string("RENAMED") + std::filesystem::path(f).extension().string()) << f;
  }
  EXPECT_EQ(CheckFamily(dir.Str(), "RENAMED"), std::vector<std::string>{});
}

}  // namespace
}  // namespace atlor::pxengine
