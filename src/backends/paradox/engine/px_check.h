#pragma once

// Integrity check of a table family on disk, independent of the in-memory tables: records in
// key order along the block chain, and each index file (.PX, .Ynn/.YGn over .Xnn/.XGn) holding
// one leaf entry per data block with that block's first key and record count, upper levels
// holding the first key and record sum of each child block.

#include <string>
#include <vector>

namespace atlor::pxengine {

struct IndexFileSummary {
  int levels = 0;
  int root_block = 0;
  int leaf_entries = 0;
  int total_entries = 0;
};

// Problems found in the family of `table` in `folder` (empty when sound). `summary`, when given,
// receives the shape of the .PX file.
std::vector<std::string> CheckFamily(const std::string& folder, const std::string& table,
                                     IndexFileSummary* summary = nullptr);

}  // namespace atlor::pxengine
