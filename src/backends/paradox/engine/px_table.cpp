#include "backends/paradox/engine/px_table.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "backends/paradox/engine/px_database.h"
#include "backends/paradox/engine/px_table_impl.h"
#include "core/encoding.h"

namespace atlor::pxengine {

using namespace format;

Table::Table() = default;

Table::~Table() {
  if (mb_fd_ >= 0) ::close(mb_fd_);
}

int Table::FieldIndex(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i)
    if (SameTextAscii(info_.fields[i].name, name)) return i;
  return -1;
}

void Table::Setup() {
  layout_.clear();
  int offset = 0;
  for (const auto& f : info_.fields) {
    layout_.push_back({offset, f.StoredSize()});
    offset += f.StoredSize();
  }
  record_size_ = offset;
  key_size_ = 0;
  for (int i = 0; i < info_.key_field_count; ++i) key_size_ += layout_[i].size;
  primary_ = IsKeyed() ? std::make_unique<std::set<RowId, PrimaryLess>>(PrimaryLess{this}) : nullptr;
  secondaries_.clear();
  for (const auto& idx : info_.indexes) {
    if (idx.primary) {
      secondaries_.push_back(nullptr);
      continue;
    }
    SecondaryLess less{this, {}, idx.descending};
    for (const auto& name : idx.fields) {
      const int f = FieldIndex(name);
      if (f < 0) throw EPxError("Index \"" + idx.name + "\" of table \"" + info_.name + "\" names an unknown field \"" + name + "\"");
      less.fields.push_back(f);
    }
    secondaries_.push_back(std::make_unique<SecondaryIndex>(less));
  }
}

std::vector<RowId> Table::Rows() const {
  std::vector<RowId> rows;
  rows.reserve(live_count_);
  if (primary_) {
    rows.assign(primary_->begin(), primary_->end());
  } else {
    for (RowId r = 0; r < slot_count_; ++r)
      if (live_[r]) rows.push_back(r);
  }
  return rows;
}

void Table::CheckRow(RowId row) const {
  if (!IsLive(row)) throw EPxError("Table \"" + info_.name + "\": the record no longer exists");
}

Value Table::Get(RowId row, int field) const {
  CheckRow(row);
  ATLOR_ASSERT(field >= 0 && field < FieldCount(), "Field index out of range");
  const FieldDef& f = info_.fields[field];
  const uint8_t* p = Rec(row) + layout_[field].offset;
  if (!IsBlobType(f.type)) return DecodeField(f.type, p, layout_[field].size, codec_);
  auto it = pending_.find((uint64_t{row} << 8) | field);
  if (it != pending_.end()) return it->second ? BlobValue(field, *it->second) : Value::Null();
  return BlobValue(field, ReadBlob(row, field));
}

std::vector<Value> Table::GetRecord(RowId row, BlobFetch fetch) const {
  CheckRow(row);
  std::vector<Value> values;
  values.reserve(FieldCount());
  for (int i = 0; i < FieldCount(); ++i) {
    if (fetch == BlobFetch::kSkip && IsBlobType(info_.fields[i].type)) {
      values.emplace_back();
      continue;
    }
    values.push_back(Get(row, i));
  }
  return values;
}

uint32_t Table::BlobLength(RowId row, int field) const {
  CheckRow(row);
  auto it = pending_.find((uint64_t{row} << 8) | field);
  if (it != pending_.end()) return it->second ? static_cast<uint32_t>(it->second->size()) : 0;
  return ReadBlobTail(Rec(row) + layout_[field].offset, layout_[field].size).length;
}

Value Table::BlobValue(int field, Bytes data) const {
  const FieldType type = info_.fields[field].type;
  if (data.empty()) return Value::Null();
  if (type == FieldType::kMemo || type == FieldType::kFmtMemo)
    return Value(codec_.Decode(std::string_view(reinterpret_cast<const char*>(data.data()), data.size())));
  return Value(std::move(data));
}

Bytes Table::ReadBlob(RowId row, int field) const {
  const uint8_t* p = Rec(row) + layout_[field].offset;
  const int size = layout_[field].size;
  const int leader = size - kBlobTailSize;
  const BlobTail tail = ReadBlobTail(p, size);
  if (tail.length == 0) return {};
  if (tail.offset == 0 || tail.length <= static_cast<uint32_t>(leader)) {
    if (tail.length > static_cast<uint32_t>(leader))
      throw EPxCorrupt(info_.name + ".DB", "a BLOB longer than its leader has no .MB location");
    return Bytes(p, p + tail.length);
  }
  if (!mb_exists_ || mb_fd_ < 0) throw EPxError("The BLOB file \"" + mb_path_ + "\" is missing");
  auto read_at = [&](uint64_t pos, size_t count, uint8_t* out) {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(mb_fd_, out + done, count - done, static_cast<off_t>(pos + done));
      if (n < 0) throw EPxIoError("Cannot read \"" + mb_path_ + "\": " + std::strerror(errno));
      if (n == 0) throw EPxCorrupt(mb_path_, "a BLOB lies outside the file");
      done += static_cast<size_t>(n);
    }
  };
  const uint64_t block = tail.offset & ~uint64_t{0xFF};
  const unsigned slot = tail.offset & 0xFF;
  uint8_t head[12];
  read_at(block, 9, head);
  Bytes data;
  if (slot == 0xFF) {
    if (head[0] != 2) throw EPxCorrupt(mb_path_, "a BLOB points to a block that is not a single-BLOB block");
    const uint32_t length = GetU32(head + 3);
    const uint16_t chunks = GetU16(head + 1);
    if (length != tail.length || 9ull + length > uint64_t{chunks} * kMbChunk)
      throw EPxCorrupt(mb_path_, "the size of a BLOB does not match its record");
    if (GetU16(head + 7) != tail.mod) throw EPxCorrupt(mb_path_, "Blob has been modified");
    data.resize(length);
    read_at(block + 9, length, data.data());
  } else {
    if (slot > 63) throw EPxCorrupt(mb_path_, "invalid BLOB slot");
    if (head[0] != 3) throw EPxCorrupt(mb_path_, "a BLOB points to a block that is not a shared block");
    uint8_t entry[5];
    read_at(block + 12 + 5 * slot, 5, entry);
    if (entry[1] == 0) throw EPxCorrupt(mb_path_, "a BLOB points to a free slot");
    const uint32_t length = (entry[1] - 1u) * 16u + entry[4];
    const uint32_t start = entry[0] * 16u;
    if (length != tail.length || entry[4] == 0 || entry[4] > 16 || start < 0x150 || start + length > kMbChunk)
      throw EPxCorrupt(mb_path_, "the size of a BLOB does not match its record");
    if (GetU16(entry + 2) != tail.mod) throw EPxCorrupt(mb_path_, "Blob has been modified");
    data.resize(length);
    read_at(block + start, length, data.data());
  }
  if (info_.fields[field].type == FieldType::kGraphic && data.size() >= 8 && data[0] == 1 && data[1] == 0 &&
      data[2] == 0 && data[3] == 1)
    data.erase(data.begin(), data.begin() + 8);
  return data;
}

std::optional<RowId> Table::FindKey(const std::vector<Value>& key) const {
  if (!primary_) throw EPxError("Table \"" + info_.name + "\" has no primary key");
  if (key.empty() || key.size() > static_cast<size_t>(info_.key_field_count))
    throw EPxError("Table \"" + info_.name + "\": wrong number of key values");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < key.size(); ++i) {
    const auto& l = layout_[i];
    bytes.resize(bytes.size() + l.size);
    try {
      EncodeField(info_.fields[i].type, key[i], bytes.data() + bytes.size() - l.size, l.size, codec_,
                  info_.fields[i].name);
    } catch (const EPxError&) {
      return std::nullopt;  // a value that cannot be stored matches no row
    }
  }
  PrimaryLess::Probe probe{bytes.data(), bytes.size()};
  auto it = primary_->lower_bound(probe);
  if (it == primary_->end() || std::memcmp(Rec(*it), bytes.data(), bytes.size()) != 0) return std::nullopt;
  return *it;
}

std::vector<RowId> Table::FindEqual(int index, const std::vector<Value>& values) const {
  ATLOR_ASSERT(index >= 0 && index < static_cast<int>(info_.indexes.size()), "Index out of bound");
  const IndexDef& def = info_.indexes[index];
  if (values.empty() || values.size() > def.fields.size())
    throw EPxError("Table \"" + info_.name + "\": wrong number of index values");
  std::vector<RowId> out;
  if (def.primary) {
    if (values.size() == static_cast<size_t>(info_.key_field_count)) {
      if (auto r = FindKey(values)) out.push_back(*r);
      return out;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < values.size(); ++i) {
      const auto& l = layout_[i];
      bytes.resize(bytes.size() + l.size);
      try {
        EncodeField(info_.fields[i].type, values[i], bytes.data() + bytes.size() - l.size, l.size, codec_,
                    info_.fields[i].name);
      } catch (const EPxError&) {
        return out;
      }
    }
    PrimaryLess::Probe probe{bytes.data(), bytes.size()};
    auto range = primary_->equal_range(probe);
    out.assign(range.first, range.second);
    return out;
  }
  const SecondaryIndex& si = *secondaries_[index];
  SecondaryLess::Probe probe{{}, values.size()};
  for (size_t i = 0; i < values.size(); ++i) {
    const int f = si.rows.key_comp().fields[i];
    const auto& l = layout_[f];
    probe.bytes.resize(probe.bytes.size() + l.size);
    try {
      EncodeField(info_.fields[f].type, values[i], probe.bytes.data() + probe.bytes.size() - l.size, l.size,
                  codec_, info_.fields[f].name);
    } catch (const EPxError&) {
      return out;
    }
  }
  auto range = si.rows.equal_range(probe);
  out.assign(range.first, range.second);
  return out;
}

int Table::IndexOnField(int field) const {
  if (field < 0 || field >= FieldCount()) return -1;
  for (size_t i = 0; i < info_.indexes.size(); ++i) {
    const auto& idx = info_.indexes[i];
    if (!idx.fields.empty() && SameTextAscii(idx.fields[0], info_.fields[field].name)) return static_cast<int>(i);
  }
  return -1;
}

// ---------------------------------------------------------------- changes

RowId Table::NewSlot() {
  if (slot_count_ == UINT32_MAX - 1) throw EPxError("Table \"" + info_.name + "\" is full");
  const size_t need = static_cast<size_t>(slot_count_ + 1) * record_size_;
  if (arena_.size() < need) {
    arena_.reserve(std::max(need, arena_.size() + arena_.size() / 2));
    arena_.resize(need);
  }
  live_.push_back(0);
  return slot_count_++;
}

void Table::IndexRow(RowId row) {
  if (primary_) primary_->insert(row);
  for (auto& s : secondaries_)
    if (s) s->rows.insert(row);
}

void Table::UnindexRow(RowId row) {
  if (primary_) primary_->erase(row);
  for (auto& s : secondaries_)
    if (s) s->rows.erase(row);
}

bool Table::KeyTaken(const uint8_t* rec, RowId except) const {
  if (primary_) {
    PrimaryLess::Probe probe{rec, static_cast<size_t>(key_size_)};
    auto it = primary_->find(probe);
    if (it != primary_->end() && *it != except) return true;
  }
  for (size_t i = 0; i < secondaries_.size(); ++i) {
    if (!secondaries_[i] || !info_.indexes[i].unique) continue;
    const auto& less = secondaries_[i]->rows.key_comp();
    SecondaryLess::Probe probe{{}, less.fields.size()};
    for (int f : less.fields)
      probe.bytes.insert(probe.bytes.end(), rec + layout_[f].offset, rec + layout_[f].offset + layout_[f].size);
    auto range = secondaries_[i]->rows.equal_range(probe);
    for (auto it = range.first; it != range.second; ++it)
      if (*it != except) return true;
  }
  return false;
}

void Table::EncodeInto(uint8_t* rec, RowId row, int field, const Value& value, bool for_insert) {
  const FieldDef& f = info_.fields[field];
  uint8_t* p = rec + layout_[field].offset;
  const int size = layout_[field].size;
  if (f.type == FieldType::kAutoInc && value.IsEmptyOrNull()) {
    if (for_insert) {
      if (info_.auto_increment >= 2147483647u) throw EPxError("Table \"" + info_.name + "\": autoincrement overflow");
      EncodeField(f.type, Value(static_cast<int32_t>(info_.auto_increment + 1)), p, size, codec_, f.name);
    }
    return;
  }
  if (!IsBlobType(f.type)) {
    if (f.type == FieldType::kBcd) {
      if (!value.IsEmptyOrNull()) throw EPxError("Field \"" + f.name + "\": BCD values cannot be written");
      std::memset(p, 0, size);
      return;
    }
    EncodeField(f.type, value, p, size, codec_, f.name);
    return;
  }
  // BLOB: keep the content until the flush; the record holds the leader and the length.
  std::shared_ptr<const Bytes> data;
  if (!value.IsEmptyOrNull()) {
    Bytes bytes;
    if (value.Kind() == ValueKind::kString) {
      const std::string& s = value.StringRef();
      if (f.type == FieldType::kMemo || f.type == FieldType::kFmtMemo) {
        const std::string enc = codec_.Encode(s, "field \"" + f.name + "\"");
        bytes.assign(enc.begin(), enc.end());
      } else {
        bytes.assign(s.begin(), s.end());
      }
    } else {
      try {
        bytes = value.ToBytes();
      } catch (const Exception&) {
        throw EPxError("The value for field \"" + f.name + "\" is not a text or byte array");
      }
    }
    if (!bytes.empty()) data = std::make_shared<const Bytes>(std::move(bytes));
  }
  std::memset(p, 0, size);
  const int leader = size - kBlobTailSize;
  if (data) {
    std::memcpy(p, data->data(), std::min<size_t>(leader, data->size()));
    WriteBlobTail(p, size, BlobTail{0, static_cast<uint32_t>(data->size()), 0});
  }
  pending_[(uint64_t{row} << 8) | field] = std::move(data);
}

void Table::CheckRequired(const uint8_t* rec, RowId row) const {
  for (int i = 0; i < FieldCount(); ++i) {
    const FieldDef& f = info_.fields[i];
    if (!f.required) continue;
    bool blank = IsBlank(rec + layout_[i].offset, layout_[i].size);
    if (IsBlobType(f.type)) {
      auto it = pending_.find((uint64_t{row} << 8) | i);
      if (it != pending_.end()) blank = !it->second;
    }
    if (blank) throw EPxError("Field value required: \"" + f.name + "\" of table \"" + info_.name + "\"");
  }
}

void Table::SaveUndo(int kind, RowId row) {
  if (!in_transaction_) return;
  UndoEntry e{static_cast<UndoEntry::Kind>(kind), row, {}, {}};
  if (kind != UndoEntry::kInsert) {
    e.old_bytes.assign(Rec(row), Rec(row) + record_size_);
    for (int i = 0; i < FieldCount(); ++i) {
      if (!IsBlobType(info_.fields[i].type)) continue;
      auto it = pending_.find((uint64_t{row} << 8) | i);
      if (it != pending_.end()) e.old_blobs.emplace_back(i, it->second);
      else e.old_blobs.emplace_back(-1 - i, nullptr);  // no pending value
    }
  }
  undo_.push_back(std::move(e));
}

RowId Table::Insert(const std::vector<Value>& values) {
  db_->RequireWritable(info_.name);
  if (values.size() > static_cast<size_t>(FieldCount()))
    throw EPxError("Table \"" + info_.name + "\": too many values for a record");
  std::vector<uint8_t> rec(record_size_, 0);
  const RowId row = slot_count_;  // the slot NewSlot will give
  std::vector<uint64_t> blob_keys;
  try {
    for (int i = 0; i < FieldCount(); ++i) {
      const Value& v = i < static_cast<int>(values.size()) ? values[i] : Value();
      if (IsBlobType(info_.fields[i].type)) blob_keys.push_back((uint64_t{row} << 8) | i);
      EncodeInto(rec.data(), row, i, v, true);
    }
    CheckRequired(rec.data(), row);
    // Check the keys against a temporary copy placed in the new slot.
    NewSlot();
    std::memcpy(Rec(row), rec.data(), record_size_);
    if (KeyTaken(Rec(row), row)) {
      --slot_count_;
      live_.pop_back();
      throw EPxError("Key violation in table \"" + info_.name + "\"");
    }
  } catch (...) {
    for (auto k : blob_keys) pending_.erase(k);
    throw;
  }
  // Auto-increment: the highest value in use.
  for (int i = 0; i < FieldCount(); ++i) {
    if (info_.fields[i].type != FieldType::kAutoInc) continue;
    const Value v = DecodeField(FieldType::kAutoInc, Rec(row) + layout_[i].offset, 4, codec_);
    if (!v.IsNull() && v.ToInteger() > 0 && static_cast<uint32_t>(v.ToInteger()) > info_.auto_increment)
      info_.auto_increment = static_cast<uint32_t>(v.ToInteger());
  }
  live_[row] = 1;
  ++live_count_;
  IndexRow(row);
  SaveUndo(UndoEntry::kInsert, row);
  dirty_ = true;
  return row;
}

void Table::Update(RowId row, const std::vector<Value>& values) {
  db_->RequireWritable(info_.name);
  CheckRow(row);
  if (values.size() > static_cast<size_t>(FieldCount()))
    throw EPxError("Table \"" + info_.name + "\": too many values for a record");
  std::vector<uint8_t> rec(Rec(row), Rec(row) + record_size_);
  // Encode the new values into a copy; BLOB values go to pending_ only after all checks.
  auto saved_pending = pending_;  // small in practice: only BLOBs changed since the last flush
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].IsEmpty()) continue;
    EncodeInto(rec.data(), row, static_cast<int>(i), values[i], false);
  }
  try {
    CheckRequired(rec.data(), row);
  } catch (...) {
    pending_ = std::move(saved_pending);
    throw;
  }
  std::vector<std::pair<uint64_t, std::shared_ptr<const Bytes>>> new_blobs;
  for (int i = 0; i < FieldCount(); ++i) {
    if (!IsBlobType(info_.fields[i].type)) continue;
    const uint64_t k = (uint64_t{row} << 8) | i;
    auto it = pending_.find(k);
    if (it != pending_.end()) new_blobs.emplace_back(k, it->second);
  }
  pending_ = std::move(saved_pending);
  SaveUndo(UndoEntry::kUpdate, row);
  UnindexRow(row);
  std::vector<uint8_t> old(Rec(row), Rec(row) + record_size_);
  std::memcpy(Rec(row), rec.data(), record_size_);
  if (KeyTaken(Rec(row), row)) {
    std::memcpy(Rec(row), old.data(), record_size_);
    IndexRow(row);
    if (in_transaction_) undo_.pop_back();
    throw EPxError("Key violation in table \"" + info_.name + "\"");
  }
  IndexRow(row);
  for (auto& [k, v] : new_blobs) pending_[k] = v;
  dirty_ = true;
}

void Table::SetValue(RowId row, int field, const Value& value) {
  ATLOR_ASSERT(field >= 0 && field < FieldCount(), "Field index out of range");
  std::vector<Value> values(field + 1);
  values[field] = value.IsEmpty() ? Value::Null() : value;
  Update(row, values);
}

void Table::Delete(RowId row) {
  db_->RequireWritable(info_.name);
  CheckRow(row);
  SaveUndo(UndoEntry::kDelete, row);
  UnindexRow(row);
  live_[row] = 0;
  --live_count_;
  for (int i = 0; i < FieldCount(); ++i)
    if (IsBlobType(info_.fields[i].type)) pending_.erase((uint64_t{row} << 8) | i);
  dirty_ = true;
}

void Table::BeginTransaction() {
  in_transaction_ = true;
  undo_.clear();
  undo_auto_inc_ = info_.auto_increment;
  undo_dirty_ = dirty_;
  undo_slot_count_ = slot_count_;
}

void Table::EndTransaction(bool rollback) {
  if (rollback) {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
      const UndoEntry& e = *it;
      switch (e.kind) {
        case UndoEntry::kInsert:
          UnindexRow(e.row);
          live_[e.row] = 0;
          --live_count_;
          for (int i = 0; i < FieldCount(); ++i)
            if (IsBlobType(info_.fields[i].type)) pending_.erase((uint64_t{e.row} << 8) | i);
          break;
        case UndoEntry::kUpdate:
        case UndoEntry::kDelete:
          if (e.kind == UndoEntry::kUpdate) UnindexRow(e.row);
          std::memcpy(Rec(e.row), e.old_bytes.data(), record_size_);
          for (const auto& [f, data] : e.old_blobs) {
            if (f >= 0) pending_[(uint64_t{e.row} << 8) | f] = data;
            else pending_.erase((uint64_t{e.row} << 8) | (-1 - f));
          }
          if (e.kind == UndoEntry::kDelete) {
            live_[e.row] = 1;
            ++live_count_;
          }
          IndexRow(e.row);
          break;
      }
    }
    // Slots of rolled-back inserts at the end are given back.
    while (slot_count_ > undo_slot_count_ && !live_[slot_count_ - 1]) {
      --slot_count_;
      live_.pop_back();
    }
    arena_.resize(static_cast<size_t>(slot_count_) * record_size_);
    info_.auto_increment = undo_auto_inc_;
    dirty_ = undo_dirty_;
  }
  undo_.clear();
  undo_.shrink_to_fit();
  in_transaction_ = false;
}

}  // namespace atlor::pxengine
