#include "backends/paradox/engine/px_check.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "backends/paradox/engine/px_format.h"
#include "core/encoding.h"

namespace atlor::pxengine {

using namespace format;

namespace {

struct BlockInfo {
  int number;
  std::vector<uint8_t> first_key;
  int count;
};

std::vector<uint8_t> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string FindNoCase(const std::string& folder, const std::string& file) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return {};
  std::string hit;
  while (dirent* e = ::readdir(d))
    if (SameTextAscii(e->d_name, file)) hit = e->d_name;
  ::closedir(d);
  return hit.empty() ? hit : folder + "/" + hit;
}

// The data blocks of a keyed file along its chain; checks key order of the records.
std::vector<BlockInfo> DataBlocks(const std::string& path, int key_size, std::vector<std::string>& problems) {
  std::vector<BlockInfo> out;
  std::vector<uint8_t> d = Load(path);
  try {
    FileHeader h = ParseHeader(path, d.data(), d.size());
    ByteReader r(path, d.data(), d.size());
    std::vector<uint8_t> prev;
    uint32_t block = h.first_block, records = 0, guard = 0;
    while (block && guard++ <= h.file_blocks) {
      const size_t off = h.header_size + static_cast<size_t>(block - 1) * h.BlockSize();
      const uint8_t* b = r.Span(off, kBlockHeaderSize, "block");
      const int16_t add = static_cast<int16_t>(GetU16(b + 4));
      const int n = add >= 0 ? add / h.record_size + 1 : 0;
      r.Span(off, kBlockHeaderSize + static_cast<size_t>(n) * h.record_size, "block records");
      for (int i = 0; i < n; ++i) {
        const uint8_t* rec = b + kBlockHeaderSize + static_cast<size_t>(i) * h.record_size;
        std::vector<uint8_t> key(rec, rec + key_size);
        if (!prev.empty() && !(prev < key)) problems.push_back(path + ": records out of key order in block " + std::to_string(block));
        prev = key;
      }
      if (n) out.push_back({static_cast<int>(block), std::vector<uint8_t>(b + kBlockHeaderSize, b + kBlockHeaderSize + key_size), n});
      records += n;
      block = GetU16(b);
    }
    if (records != h.record_count) problems.push_back(path + ": the header counts " + std::to_string(h.record_count) + " records, the blocks hold " + std::to_string(records));
  } catch (const EPxError& e) {
    problems.push_back(e.what());
  }
  return out;
}

int Short(const uint8_t* p) {
  const TextCodec codec(1252);
  const Value v = DecodeField(FieldType::kShort, p, 2, codec);
  return v.IsNull() ? 0 : v.ToInteger();
}

// Walks an index file from its root; compares its leaves with the data blocks.
void CheckIndex(const std::string& path, const std::vector<BlockInfo>& data, int key_size,
                std::vector<std::string>& problems, IndexFileSummary* summary) {
  std::vector<uint8_t> d = Load(path);
  if (d.empty()) {
    problems.push_back(path + ": missing");
    return;
  }
  try {
    FileHeader h = ParseHeader(path, d.data(), d.size());
    ByteReader r(path, d.data(), d.size());
    if (h.record_size != key_size + 6) {
      problems.push_back(path + ": key size differs from the data file");
      return;
    }
    std::vector<BlockInfo> leaves;
    int total = 0;
    // Returns the record count under the block; collects leaf entries in order.
    std::function<long(int, int, const uint8_t*)> walk = [&](int block, int level, const uint8_t* expect_key) -> long {
      if (block < 1 || block > h.file_blocks) throw EPxCorrupt(path, "an index entry points outside the file");
      const size_t off = h.header_size + static_cast<size_t>(block - 1) * h.BlockSize();
      const uint8_t* b = r.Span(off, kBlockHeaderSize, "block");
      const int16_t add = static_cast<int16_t>(GetU16(b + 4));
      const int n = add >= 0 ? add / h.record_size + 1 : 0;
      r.Span(off, kBlockHeaderSize + static_cast<size_t>(n) * h.record_size, "block entries");
      long sum = 0;
      for (int i = 0; i < n; ++i) {
        const uint8_t* e = b + kBlockHeaderSize + static_cast<size_t>(i) * h.record_size;
        ++total;
        if (i == 0 && expect_key && std::memcmp(e, expect_key, key_size) != 0)
          problems.push_back(path + ": the first key of block " + std::to_string(block) + " differs from its parent entry");
        const int child = Short(e + key_size), count = Short(e + key_size + 2);
        if (level == 1) {
          leaves.push_back({child, std::vector<uint8_t>(e, e + key_size), count});
          sum += count;
        } else {
          const long below = walk(child, level - 1, e);
          if (std::min<long>(below, 32767) != count) problems.push_back(path + ": an upper entry's count differs from its child");
          sum += below;
        }
      }
      return sum;
    };
    if (h.root_block) walk(h.root_block, h.index_levels, nullptr);
    if (summary) *summary = {h.index_levels, h.root_block, static_cast<int>(leaves.size()), total};
    if (static_cast<uint32_t>(total) != h.record_count) problems.push_back(path + ": the header counts a different number of entries");
    if (leaves.size() != data.size()) {
      problems.push_back(path + ": " + std::to_string(leaves.size()) + " leaf entries for " + std::to_string(data.size()) + " data blocks");
      return;
    }
    for (size_t i = 0; i < leaves.size(); ++i)
      if (leaves[i].number != data[i].number || leaves[i].count != data[i].count || leaves[i].first_key != data[i].first_key)
        problems.push_back(path + ": leaf entry " + std::to_string(i) + " does not match data block " + std::to_string(data[i].number));
  } catch (const EPxError& e) {
    problems.push_back(e.what());
  }
}

}  // namespace

std::vector<std::string> CheckFamily(const std::string& folder, const std::string& table, IndexFileSummary* summary) {
  std::vector<std::string> problems;
  const std::string db = FindNoCase(folder, table + ".DB");
  std::vector<uint8_t> d = Load(db);
  if (d.empty()) return {table + ".DB: missing"};
  FileHeader h;
  try {
    h = ParseHeader(db, d.data(), d.size());
  } catch (const EPxError& e) {
    return {e.what()};
  }
  if (h.key_field_count == 0) return problems;
  int key_size = 0;
  for (int i = 0; i < h.key_field_count; ++i) key_size += StoredSize(h.fields[i].type, h.fields[i].size);
  const std::vector<BlockInfo> blocks = DataBlocks(db, key_size, problems);
  CheckIndex(FindNoCase(folder, table + ".PX"), blocks, key_size, problems, summary);
  // Secondary indexes.
  DIR* dir = ::opendir(folder.c_str());
  std::vector<std::string> xs;
  while (dir && (errno = 0, true)) {
    dirent* e = ::readdir(dir);
    if (!e) break;
    const std::string n = e->d_name;
    if (n.size() == table.size() + 4 && SameTextAscii(n.substr(0, table.size()), table) && n[table.size()] == '.' &&
        (n[table.size() + 1] == 'X' || n[table.size() + 1] == 'x'))
      xs.push_back(n);
  }
  if (dir) ::closedir(dir);
  for (const auto& x : xs) {
    const std::string xpath = folder + "/" + x;
    std::vector<uint8_t> xd = Load(xpath);
    try {
      FileHeader xh = ParseHeader(xpath, xd.data(), xd.size());
      int xkey = 0;
      for (int i = 0; i < xh.key_field_count; ++i) xkey += StoredSize(xh.fields[i].type, xh.fields[i].size);
      if (xh.record_count != h.record_count) problems.push_back(xpath + ": its entry count differs from the table's records");
      const std::vector<BlockInfo> xblocks = DataBlocks(xpath, xkey, problems);
      std::string y = x;
      y[table.size() + 1] = x[table.size() + 1] == 'X' ? 'Y' : 'y';
      CheckIndex(FindNoCase(folder, y), xblocks, xkey, problems, nullptr);
    } catch (const EPxError& e) {
      problems.push_back(e.what());
    }
  }
  return problems;
}

}  // namespace atlor::pxengine
