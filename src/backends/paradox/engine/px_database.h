#pragma once

// Embedded engine for folders of genuine Paradox tables (levels 3.0 to 7).
//
// A folder is a database; each table is a family of files named after it: NAME.DB (records),
// NAME.MB (BLOBs), NAME.PX (primary index), NAME.Xnn/.Ynn and NAME.XGn/.YGn (secondary
// indexes), NAME.VAL (validity checks, here: required fields).
//
// Typical use:
//   auto db = Database::Open("/data/atlor");
//   Table& t = db->OpenTable("ATLOR_SECTORS");     // loaded on first use
//   if (auto row = t.FindKey({Value("00010000002A")})) t.SetValue(*row, 3, Value(Bytes{...}));
//   db->Flush();                                    // writes the changed families
//
// Writing a family: new files are written beside the old ones (NAME.DB.atlor-new ...), synced,
// then a commit note (NAME.atlor-commit) lists the replacements; the replacements are done and
// the note removed. A writer that opens the folder finishes a replacement a crash interrupted,
// and removes new files without a note. So a crash leaves the old family or the new one. BLOB
// data is written to the .MB file when it is set, into space that the .DB on disk does not use
// (free space, or the end of the file), so the old family stays valid until the replacement;
// after it, the space of BLOBs the new .DB no longer uses is free for new ones. Unchanged BLOBs
// are not rewritten.
//
// One writer: a Database opened for writing holds an exclusive lock on the folder's
// ATLORPX.LCK file; a second writer gets EPxError. Readers (OpenMode::kReadOnly) take no lock.
//
// Transactions: between StartTransaction and Commit every change can be undone by Rollback.
// Commit flushes the changed tables. Savepoints nest inside a transaction or stand on their own
// (the SQL layer puts each statement in one, so that a failing statement changes nothing):
// RollbackToSavepoint undoes the changes made since the innermost savepoint, ReleaseSavepoint
// keeps them (outside a transaction they then stay in memory until a flush). Creating, deleting
// and renaming tables and flushing are refused inside a transaction or savepoint. Not
// thread-safe: one thread uses a Database and its tables.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/paradox/engine/px_table.h"
#include "backends/paradox/engine/px_types.h"

namespace atlor::pxengine {

enum class OpenMode { kReadOnly, kReadWrite };

// What to do with a keyed table whose .PX file is missing.
enum class MissingIndexPolicy {
  kError,    // refuse the table (as the classic engine does)
  kRebuild,  // load it; the next flush writes a new .PX
};

struct DatabaseOptions {
  OpenMode mode = OpenMode::kReadWrite;
  // Code page of every table's texts, overriding what the headers say (for tables whose header
  // names a wrong code page). Level 3 headers name none: default_format.code_page is used.
  std::optional<int> code_page;
  // The same for single tables, by table name (without regard to case).
  std::map<std::string, int> table_code_pages;
  std::vector<std::string> passwords;
  MissingIndexPolicy missing_index = MissingIndexPolicy::kError;
  // Format of new tables when the folder holds no table to take it from.
  TableFormat default_format;
};

class Database {
 public:
  // Opens a folder (it must exist). In kReadWrite mode takes the writer lock and finishes or
  // cleans up an interrupted flush.
  static std::unique_ptr<Database> Open(const std::string& folder, DatabaseOptions options = {});
  // Releases the lock. Changes not flushed are lost (call Flush or Commit first).
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& Folder() const { return folder_; }
  bool ReadOnly() const { return options_.mode == OpenMode::kReadOnly; }

  // Table names (file names of the .DB files without extension), sorted.
  std::vector<std::string> ListTables() const;
  bool TableExists(std::string_view name) const;
  // Field and index definitions from the header files, without loading the records.
  TableInfo ReadTableInfo(std::string_view name) const;

  // The table, loaded on first use. The reference stays valid until the table is deleted or
  // renamed, or the database destroyed.
  Table& OpenTable(std::string_view name);

  // Creates an empty table. Keyed tables list their primary index first in `indexes`, whose
  // fields must be the first fields in order. The format is `format` when given, else that of
  // the folder's existing tables, else options.default_format; the level is raised to what
  // the field types need.
  void CreateTable(std::string_view name, const std::vector<FieldDef>& fields,
                   const std::vector<IndexDef>& indexes,
                   std::optional<TableFormat> format = std::nullopt);
  // Removes every file of the family.
  void DeleteTable(std::string_view name);
  // Renames every file of the family and the name inside the headers.
  void RenameTable(std::string_view old_name, std::string_view new_name);

  // Writes every modified table (a whole family each).
  void Flush();
  void FlushTable(std::string_view name);

  void StartTransaction();
  void Commit();    // flushes the changed tables, then ends the transaction (and its savepoints)
  void Rollback();  // undoes every change made since StartTransaction
  bool InTransaction() const { return in_transaction_; }

  void Savepoint();             // opens a savepoint inside the innermost one
  void ReleaseSavepoint();      // closes the innermost savepoint, keeping its changes
  void RollbackToSavepoint();   // undoes the changes since the innermost savepoint (it stays open)
  int SavepointCount() const { return savepoints_; }

  // Grows by one whenever a table is created, deleted or renamed (the SQL layer re-reads the
  // folder's tables when it changes).
  uint64_t SchemaGeneration() const { return schema_generation_; }

  // Test seam: called before each step of writing files ("write NAME.DB", "sync ...",
  // "commit NAME", "replace NAME.DB", "remove ..."); a hook that throws interrupts the work
  // there, as a crash or a full disk would.
  void SetFailureHook(std::function<void(const std::string& step)> hook) { hook_ = std::move(hook); }

  // Internal helpers shared with Table.
  void Step(const std::string& step) const {
    if (hook_) hook_(step);
  }
  const DatabaseOptions& Options() const { return options_; }
  void RequireWritable(const std::string& table) const;

 private:
  Database(std::string folder, DatabaseOptions options);
  std::string PathOf(std::string_view file) const;
  std::string FindFile(std::string_view name, std::string_view ext) const;  // "" when none
  std::vector<std::string> FamilyFiles(std::string_view name) const;
  std::unique_ptr<Table> LoadTable(const std::string& name) const;
  TableInfo ReadInfo(const std::string& name, format::FileHeader* header) const;
  int CodePageFor(const std::string& name, int header_code_page, int level) const;
  void WriteFamily(Table& table);
  void CommitReplacements(const std::string& name,
                          const std::vector<std::pair<std::string, std::string>>& renames,
                          const std::vector<std::string>& removals);
  void Recover();
  void RequireWriter(const char* what) const;
  TableFormat FolderFormat() const;
  std::string TableKey(std::string_view name) const;
  void RequireNoTransaction(const char* message) const;
  int Depth() const { return (in_transaction_ ? 1 : 0) + savepoints_; }

  std::string folder_;
  DatabaseOptions options_;
  int lock_fd_ = -1;
  std::map<std::string, std::unique_ptr<Table>> tables_;  // by upper-case name
  bool in_transaction_ = false;
  int savepoints_ = 0;
  uint64_t schema_generation_ = 0;
  std::function<void(const std::string&)> hook_;
};

}  // namespace atlor::pxengine
