#pragma once

// A Paradox table loaded into memory.
//
// A Table is made and owned by its Database (px_database.h) and lives until the database is
// destroyed or the table is deleted or renamed. All records are held in memory in their stored
// form; values are decoded when asked for. BLOB contents stay in the .MB file until asked for;
// a BLOB that is written is held in memory until the table is flushed.
//
// Rows are named by RowId, stable while the table is loaded (a deleted row's id is not reused).
// Values follow the kinds of atlor::Value:
//   Alpha, Memo, Formatted memo -> String (UTF-8)     Short, Long integer, Autoincrement -> Integer
//   Number, BCD -> Float                              Money -> Currency
//   Logical -> Boolean                                Date, Time, Timestamp -> DateTime
//   Bytes, Binary, OLE, Graphic -> Bytes              blank field -> Null
// When writing, Empty and Null both store a blank field.
//
// Keyed tables keep their rows in key order; keys compare by their stored bytes (the numeric
// encodings sort as numbers; Alpha keys sort by code-page byte values).

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "backends/paradox/engine/px_format.h"
#include "backends/paradox/engine/px_types.h"
#include "core/value.h"

namespace atlor::pxengine {

class Database;
struct FlushPlan;

using RowId = uint32_t;

// What GetRecord does with BLOB fields stored in the .MB file.
enum class BlobFetch { kLoad, kSkip };  // kSkip leaves Empty in their place

class Table {
 public:
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const std::string& Name() const { return info_.name; }
  const TableInfo& Info() const { return info_; }
  int FieldCount() const { return static_cast<int>(info_.fields.size()); }
  const FieldDef& Field(int i) const { return info_.fields[i]; }
  // Index of the field named `name` (compared without regard to case of A..Z), -1 when none.
  int FieldIndex(std::string_view name) const;
  bool IsKeyed() const { return info_.key_field_count > 0; }

  uint32_t RecordCount() const { return live_count_; }
  // The ids of all rows, in table order (key order for keyed tables, file order otherwise).
  std::vector<RowId> Rows() const;
  bool IsLive(RowId row) const { return row < slot_count_ && live_[row]; }

  // One value; a BLOB is read from the .MB file (not cached). Raises EPxError for a dead row.
  Value Get(RowId row, int field) const;
  std::vector<Value> GetRecord(RowId row, BlobFetch fetch = BlobFetch::kLoad) const;
  // Length in bytes of a BLOB value (0 when blank), without reading it.
  uint32_t BlobLength(RowId row, int field) const;

  // The row whose primary key equals `key` (one value per key field, or fewer for the first
  // match of a prefix); nullopt when none. Raises EPxError for an unkeyed table.
  std::optional<RowId> FindKey(const std::vector<Value>& key) const;
  // Rows whose first values.size() fields of index `index` (position in Info().indexes) equal
  // `values`, in index order.
  std::vector<RowId> FindEqual(int index, const std::vector<Value>& values) const;
  // The index whose first field is `field` (the primary index first), -1 when none.
  int IndexOnField(int field) const;

  // Adds a row (one value per field; missing trailing values are blank). A blank
  // Autoincrement field gets the next number. Raises EPxError on a key violation, a blank
  // required field or a value that does not fit its field.
  RowId Insert(const std::vector<Value>& values);
  // Replaces the values of a row; an Empty value leaves that field as it is.
  void Update(RowId row, const std::vector<Value>& values);
  void SetValue(RowId row, int field, const Value& value);
  void Delete(RowId row);

  bool Modified() const { return dirty_; }

 private:
  friend class Database;
  struct PrimaryLess;
  struct SecondaryLess;
  struct SecondaryIndex;
  struct UndoEntry;

  Table();
  const uint8_t* Rec(RowId row) const { return arena_.data() + static_cast<size_t>(row) * record_size_; }
  uint8_t* Rec(RowId row) { return arena_.data() + static_cast<size_t>(row) * record_size_; }
  void CheckRow(RowId row) const;
  void Setup();  // layouts, comparators, indexes from info_
  void IndexRow(RowId row);
  void UnindexRow(RowId row);
  bool KeyTaken(const uint8_t* rec, RowId except) const;
  void EncodeInto(uint8_t* rec, RowId row, int field, const Value& value, bool for_insert);
  Bytes ReadBlob(RowId row, int field) const;
  Value BlobValue(int field, Bytes data) const;
  void CheckRequired(const uint8_t* rec, RowId row) const;
  void SaveUndo(int kind, RowId row);
  void BeginTransaction();
  void EndTransaction(bool rollback);
  RowId NewSlot();

  Database* db_ = nullptr;
  std::string folder_;
  TableInfo info_;
  format::FileHeader header_;  // of the .DB file as last read or written
  format::TextCodec codec_;
  struct Layout {
    int offset;
    int size;
  };
  std::vector<Layout> layout_;
  int record_size_ = 0;
  int key_size_ = 0;
  std::vector<uint8_t> arena_;
  std::vector<uint8_t> live_;
  uint32_t slot_count_ = 0;
  uint32_t live_count_ = 0;
  std::unique_ptr<std::set<RowId, PrimaryLess>> primary_;
  std::vector<std::unique_ptr<SecondaryIndex>> secondaries_;  // parallel to info_.indexes
  // BLOB values written since the last flush, by (row << 8 | field).
  std::unordered_map<uint64_t, std::shared_ptr<const Bytes>> pending_;
  std::string mb_path_;
  int mb_fd_ = -1;
  bool mb_exists_ = false;
  bool dirty_ = false;
  bool in_transaction_ = false;
  std::vector<UndoEntry> undo_;
  uint32_t undo_auto_inc_ = 0;
  bool undo_dirty_ = false;
  uint32_t undo_slot_count_ = 0;
};

}  // namespace atlor::pxengine
