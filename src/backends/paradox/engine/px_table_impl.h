#pragma once

// Comparators and index holders of Table, shared by the engine's own units only.

#include <cstring>
#include <memory>
#include <map>
#include <unordered_map>
#include <vector>

#include "backends/paradox/engine/px_table.h"

namespace atlor::pxengine {

// Primary keys: the first key_size_ bytes of the record (key fields come first).
struct Table::PrimaryLess {
  using is_transparent = void;
  const Table* t;
  struct Probe {
    const uint8_t* bytes;
    size_t size;  // may be shorter than the key: a prefix
  };
  bool operator()(RowId a, RowId b) const {
    return std::memcmp(t->Rec(a), t->Rec(b), t->key_size_) < 0;
  }
  bool operator()(RowId a, const Probe& p) const { return std::memcmp(t->Rec(a), p.bytes, p.size) < 0; }
  bool operator()(const Probe& p, RowId b) const { return std::memcmp(p.bytes, t->Rec(b), p.size) < 0; }
};

// Secondary keys: the indexed fields in order, then the row id (so equal keys are kept).
struct Table::SecondaryLess {
  using is_transparent = void;
  const Table* t;
  std::vector<int> fields;
  bool descending = false;
  struct Probe {
    std::vector<uint8_t> bytes;  // stored bytes of the first `count` fields, concatenated
    size_t count;
  };
  int CompareFields(const uint8_t* a, const uint8_t* b, size_t count) const {
    for (size_t i = 0; i < count; ++i) {
      const auto& l = t->layout_[fields[i]];
      const int c = std::memcmp(a + l.offset, b + l.offset, l.size);
      if (c) return descending ? -c : c;
    }
    return 0;
  }
  int CompareProbe(RowId a, const Probe& p) const {
    const uint8_t* rec = t->Rec(a);
    size_t pos = 0;
    for (size_t i = 0; i < p.count; ++i) {
      const auto& l = t->layout_[fields[i]];
      const int c = std::memcmp(rec + l.offset, p.bytes.data() + pos, l.size);
      if (c) return descending ? -c : c;
      pos += l.size;
    }
    return 0;
  }
  bool operator()(RowId a, RowId b) const {
    const int c = CompareFields(t->Rec(a), t->Rec(b), fields.size());
    return c ? c < 0 : a < b;
  }
  bool operator()(RowId a, const Probe& p) const { return CompareProbe(a, p) < 0; }
  bool operator()(const Probe& p, RowId b) const { return CompareProbe(b, p) > 0; }
};

struct Table::SecondaryIndex {
  explicit SecondaryIndex(SecondaryLess less) : rows(std::move(less)) {}
  SortedRowIndex<SecondaryLess> rows;
};

// A change that a rollback can undo. An update keeps the old bytes of the fields it changed
// (`size` bytes from `from` in the record, whole fields, at `bytes` in undo_bytes_). A delete
// keeps nothing: a deleted row's record stays in its slot.
struct Table::UndoEntry {
  enum Kind : uint8_t { kInsert, kUpdate, kDelete };
  Kind kind;
  RowId row;
  uint32_t from;
  uint32_t size;
  size_t bytes;
};

// The state of a table when a transaction or savepoint began.
struct Table::Mark {
  size_t undo_size;
  uint32_t auto_increment;
  bool dirty;
  uint32_t slot_count;
  uint64_t flush_count;
};

// Space of the .MB file in chunks of 4 KiB (chunk 0 is the file header).
struct Table::MbSpace {
  bool reuse = false;        // the file's BLOB places were checked: unused chunks may be reused
  uint32_t end = 1;          // chunks in the file
  uint32_t header_chunks = 1;
  std::map<uint32_t, uint32_t> free;  // first chunk -> count, none adjacent to another
  // Blocks of pre-existing BLOBs whose size differs from what their length implies.
  std::unordered_map<uint32_t, uint32_t> odd_sizes;
  // Single-BLOB blocks written since the last flush (no .DB on disk refers to them), a bit per
  // chunk.
  struct ChunkSet {
    std::vector<uint64_t> bits;
    size_t count = 0;
    bool Has(uint32_t c) const { return c / 64 < bits.size() && (bits[c / 64] >> (c % 64)) & 1; }
    void Add(uint32_t c) {
      if (c / 64 >= bits.size()) bits.resize(c / 64 + 1, 0);
      if (!Has(c)) ++count;
      bits[c / 64] |= uint64_t{1} << (c % 64);
    }
    bool Remove(uint32_t c) {
      if (!Has(c)) return false;
      bits[c / 64] &= ~(uint64_t{1} << (c % 64));
      --count;
      return true;
    }
    void Clear() {
      bits.clear();
      count = 0;
    }
  } fresh;
  // The shared block being filled (0: none).
  uint32_t shared = 0;
  int shared_slot = -1;
  int shared_used16 = 0;
  bool unsynced = false;  // written since the last sync
  uint16_t mod = 1;       // modification number of new BLOBs
};
}  // namespace atlor::pxengine
