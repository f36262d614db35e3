#pragma once

// Ordered set of row ids under a comparator that reads the rows' records, internal to the
// engine. Row ids are kept in leaves of at most kLeafSize sorted entries, so an index costs
// about 4 to 8 bytes per row instead of the 48 of a tree node, and walking it in order is a
// walk over arrays. Lookups take a probe of any type the comparator accepts (heterogeneous, as
// with std::set's transparent comparators).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace atlor::pxengine {

template <class Less>
class SortedRowIndex {
 public:
  using Row = uint32_t;
  static constexpr size_t kLeafSize = 512;

  explicit SortedRowIndex(Less less) : less_(std::move(less)) {}

  const Less& key_comp() const { return less_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() {
    leaves_.clear();
    size_ = 0;
  }

  class iterator {
   public:
    iterator() = default;
    iterator(const SortedRowIndex* idx, size_t leaf, size_t pos) : idx_(idx), leaf_(leaf), pos_(pos) { Normalize(); }
    Row operator*() const { return idx_->leaves_[leaf_][pos_]; }
    iterator& operator++() {
      ++pos_;
      Normalize();
      return *this;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.leaf_ == b.leaf_ && a.pos_ == b.pos_; }
    friend bool operator!=(const iterator& a, const iterator& b) { return !(a == b); }

   private:
    friend class SortedRowIndex;
    void Normalize() {
      while (leaf_ < idx_->leaves_.size() && pos_ >= idx_->leaves_[leaf_].size()) {
        ++leaf_;
        pos_ = 0;
      }
    }
    const SortedRowIndex* idx_ = nullptr;
    size_t leaf_ = 0;
    size_t pos_ = 0;
  };

  iterator begin() const { return iterator(this, 0, 0); }
  iterator end() const { return iterator(this, leaves_.size(), 0); }

  // First entry not less than the probe.
  template <class P>
  iterator lower_bound(const P& probe) const {
    auto leaf = std::partition_point(leaves_.begin(), leaves_.end(),
                                     [&](const std::vector<Row>& l) { return less_(l.back(), probe); });
    if (leaf == leaves_.end()) return end();
    auto pos = std::lower_bound(leaf->begin(), leaf->end(), probe, [&](Row r, const P& p) { return less_(r, p); });
    return iterator(this, static_cast<size_t>(leaf - leaves_.begin()), static_cast<size_t>(pos - leaf->begin()));
  }
  // First entry greater than the probe.
  template <class P>
  iterator upper_bound(const P& probe) const {
    auto leaf = std::partition_point(leaves_.begin(), leaves_.end(),
                                     [&](const std::vector<Row>& l) { return !less_(probe, l.back()); });
    if (leaf == leaves_.end()) return end();
    auto pos = std::upper_bound(leaf->begin(), leaf->end(), probe, [&](const P& p, Row r) { return less_(p, r); });
    return iterator(this, static_cast<size_t>(leaf - leaves_.begin()), static_cast<size_t>(pos - leaf->begin()));
  }
  template <class P>
  iterator find(const P& probe) const {
    iterator it = lower_bound(probe);
    if (it == end() || less_(probe, *it)) return end();
    return it;
  }

  // Adds a row; false (and nothing added) when an equivalent entry is there.
  bool insert(Row row) {
    if (leaves_.empty()) {
      leaves_.emplace_back();
      leaves_.back().reserve(kLeafSize);
      leaves_.back().push_back(row);
      ++size_;
      return true;
    }
    // Rows often come in order: append without searching.
    std::vector<Row>& last = leaves_.back();
    if (less_(last.back(), row)) {
      if (last.size() < kLeafSize) {
        last.push_back(row);
      } else {
        leaves_.emplace_back();
        leaves_.back().reserve(kLeafSize);
        leaves_.back().push_back(row);
      }
      ++size_;
      return true;
    }
    auto leaf = std::partition_point(leaves_.begin(), leaves_.end(),
                                     [&](const std::vector<Row>& l) { return less_(l.back(), row); });
    auto pos = std::lower_bound(leaf->begin(), leaf->end(), row, [&](Row a, Row b) { return less_(a, b); });
    if (pos != leaf->end() && !less_(row, *pos)) return false;
    if (leaf->size() < kLeafSize) {
      leaf->insert(pos, row);
    } else {
      // Split the full leaf in halves, then insert into the half that takes the row.
      const size_t at = static_cast<size_t>(pos - leaf->begin());
      const size_t li = static_cast<size_t>(leaf - leaves_.begin());
      std::vector<Row> upper;
      upper.reserve(kLeafSize);
      upper.assign(leaf->begin() + kLeafSize / 2, leaf->end());
      leaf->resize(kLeafSize / 2);
      if (at <= kLeafSize / 2)
        leaf->insert(leaf->begin() + at, row);
      else
        upper.insert(upper.begin() + (at - kLeafSize / 2), row);
      leaves_.insert(leaves_.begin() + li + 1, std::move(upper));
    }
    ++size_;
    return true;
  }

  // Removes the entry of `row`; false when it is not there.
  bool erase(Row row) {
    auto leaf = std::partition_point(leaves_.begin(), leaves_.end(),
                                     [&](const std::vector<Row>& l) { return less_(l.back(), row); });
    if (leaf == leaves_.end()) return false;
    auto pos = std::lower_bound(leaf->begin(), leaf->end(), row, [&](Row a, Row b) { return less_(a, b); });
    if (pos == leaf->end() || *pos != row) return false;
    leaf->erase(pos);
    if (leaf->empty()) leaves_.erase(leaf);
    --size_;
    return true;
  }

  // Replaces the content with rows already sorted by the comparator (leaves filled fully).
  void assign_sorted(const std::vector<Row>& rows) {
    leaves_.clear();
    for (size_t i = 0; i < rows.size(); i += kLeafSize) {
      const size_t n = std::min(kLeafSize, rows.size() - i);
      leaves_.emplace_back();
      leaves_.back().reserve(kLeafSize);
      leaves_.back().assign(rows.begin() + static_cast<std::ptrdiff_t>(i),
                            rows.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    size_ = rows.size();
  }

  void append_to(std::vector<Row>& out) const {
    out.reserve(out.size() + size_);
    for (const auto& l : leaves_) out.insert(out.end(), l.begin(), l.end());
  }

  // Bytes held, for the memory accounting of tests and benchmarks.
  size_t MemoryUse() const {
    size_t n = leaves_.capacity() * sizeof(std::vector<Row>);
    for (const auto& l : leaves_) n += l.capacity() * sizeof(Row);
    return n;
  }

 private:
  Less less_;
  std::vector<std::vector<Row>> leaves_;
  size_t size_ = 0;
};

}  // namespace atlor::pxengine
