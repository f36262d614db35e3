#pragma once

// A Paradox table loaded into memory.
//
// A Table is made and owned by its Database (px_database.h) and lives until the database is
// destroyed or the table is deleted or renamed. All records are held in memory in their stored
// form; values are decoded when asked for. BLOB contents stay in the .MB file: a BLOB is read
// when asked for, and a BLOB that is written goes to the .MB file at once, into space that the
// table's .DB file on disk does not use (so the family on disk stays valid until the next flush
// replaces the .DB). Space of BLOBs that the .DB on disk no longer uses is given to new BLOBs
// after a flush; new BLOBs carry a new modification number, so a reader holding an old copy of
// a record gets "Blob has been modified" instead of another BLOB's data.
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
#include <string>
#include <vector>

#include "backends/paradox/engine/px_format.h"
#include "backends/paradox/engine/px_index.h"
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
  // A number no other table object of this process had (a table deleted and created again
  // under its name is another table).
  uint64_t Serial() const { return serial_; }

  // Bytes of memory the table holds (records, indexes, undo log), for tests and benchmarks.
  size_t MemoryUse() const;
  // Size of the .MB file in bytes (0 when there is none).
  uint64_t BlobFileSize() const;

 private:
  friend class Database;
  struct PrimaryLess;
  struct SecondaryLess;
  struct SecondaryIndex;
  struct UndoEntry;
  struct Mark;
  struct MbSpace;
  static constexpr RowId kNoRow = UINT32_MAX;

  Table();
  const uint8_t* Rec(RowId row) const { return pages_[row >> page_shift_].get() + (row & page_mask_) * record_size_; }
  uint8_t* Rec(RowId row) { return pages_[row >> page_shift_].get() + (row & page_mask_) * record_size_; }
  void CheckRow(RowId row) const;
  void Setup();  // layouts, comparators, indexes from info_
  void IndexRow(RowId row);
  void UnindexRow(RowId row);
  bool KeyTaken(const uint8_t* rec, RowId except) const;
  // Encodes `value` into field `field` of `rec`. A BLOB value is not written yet: its bytes (as
  // stored) go to `blob` and the record gets the leader and the length.
  void EncodeInto(uint8_t* rec, int field, const Value& value, bool for_insert, Bytes* blob);
  // Writes the BLOBs that EncodeInto set aside into the .MB file and their places into `rec`.
  void StoreBlobs(uint8_t* rec, std::vector<std::pair<int, Bytes>>& blobs);
  Bytes ReadBlob(RowId row, int field) const;
  Value BlobValue(int field, Bytes data) const;
  void CheckRequired(const uint8_t* rec) const;
  // Notes a change for undo marks; `new_rec` is the record an update writes.
  void SaveUndo(int kind, RowId row, const uint8_t* new_rec = nullptr);
  // The old BLOB places an undo entry keeps.
  template <class F>
  void ForEachUndoTail(const UndoEntry& e, F f) const;
  RowId NewSlot();
  size_t PageCount() const { return pages_.size(); }

  // Undo marks: one per open transaction or savepoint level of the database.
  void PushMark();
  void UndoToMark(size_t level);  // undoes every change made since mark `level`; keeps it open
  void PopMark();
  void DropMarks();

  // .MB file space.
  void CreateMbFile();
  void EnsureMbSpace();
  void NoteLostBlobs(const uint8_t* old_rec, const uint8_t* new_rec);
  uint32_t AllocChunks(uint32_t count);
  void FreeChunks(uint32_t first, uint32_t count);
  void ReleaseFreshBlobs(const uint8_t* old_rec, const uint8_t* new_rec);
  void RebuildFreeSpace();
  void AfterFlush();
  uint32_t BlockChunks(uint32_t chunk, uint32_t length) const;

  Database* db_ = nullptr;
  uint64_t serial_ = 0;
  std::string folder_;
  TableInfo info_;
  format::FileHeader header_;  // of the .DB file as last read or written
  format::TextCodec codec_;
  struct Layout {
    int offset;
    int size;
  };
  std::vector<Layout> layout_;
  std::vector<int> blob_fields_;
  int record_size_ = 0;
  int key_size_ = 0;
  // Records in pages of 2^page_shift_ records, so that growing never moves them.
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  unsigned page_shift_ = 8;
  uint32_t page_mask_ = 255;
  std::vector<uint8_t> live_;
  uint32_t slot_count_ = 0;
  uint32_t live_count_ = 0;
  std::unique_ptr<SortedRowIndex<PrimaryLess>> primary_;
  std::vector<std::unique_ptr<SecondaryIndex>> secondaries_;  // parallel to info_.indexes
  std::string mb_path_;
  int mb_fd_ = -1;
  bool mb_exists_ = false;
  std::unique_ptr<MbSpace> mb_;
  bool dirty_ = false;
  uint64_t flush_count_ = 0;
  std::vector<UndoEntry> undo_;
  std::vector<uint8_t> undo_bytes_;  // old fields of the undo entries, one after another
  std::vector<Mark> marks_;
  // BLOB places the .DB on disk refers to but the records no longer hold, noted until the
  // free space of the .MB file is first worked out.
  std::vector<format::BlobTail> lost_refs_;
  // Fresh single-BLOB blocks replaced while a mark is open: freed when the changes are kept
  // (tagged with the undo position, so that undoing them keeps the blocks).
  struct Superseded {
    uint32_t chunk;
    uint32_t count;
    size_t undo_pos;
  };
  std::vector<Superseded> superseded_;
  std::vector<uint8_t> scratch_;  // buffer of BLOB writes
};

}  // namespace atlor::pxengine
