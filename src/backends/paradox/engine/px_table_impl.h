#pragma once

// Comparators and index holders of Table, shared by the engine's own units only.

#include <cstring>
#include <memory>
#include <set>
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
  explicit SecondaryIndex(SecondaryLess less) : rows(less) {}
  std::set<RowId, SecondaryLess> rows;
};

struct Table::UndoEntry {
  enum Kind { kInsert, kUpdate, kDelete };
  Kind kind;
  RowId row;
  std::vector<uint8_t> old_bytes;
  std::vector<std::pair<int, std::shared_ptr<const Bytes>>> old_blobs;
};

}  // namespace atlor::pxengine
