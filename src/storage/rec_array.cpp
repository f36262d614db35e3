#include "storage/rec_array.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace atlor {
namespace {

constexpr int32_t kMaxInt32 = std::numeric_limits<int32_t>::max();

}  // namespace

TRecArray::TRecArray(int32_t elem_size) : elem_size_(elem_size) {
  ATLOR_ASSERT(elem_size > 0, "Invalid element size (TRecArray)");
}

TRecArray::~TRecArray() { std::free(data_); }

void TRecArray::Assign(const TRecArray& other) {
  if (&other == this) return;
  if (other.elem_size_ != elem_size_)
    throw ERecArray("Не совпадает размер элемента (TRecArray.Assign)");
  if (capacity_ < other.count_) SetCapacity(other.count_);
  if (other.count_ > 0)
    std::memcpy(data_, other.data_, static_cast<size_t>(other.count_) * elem_size_);
  count_ = other.count_;
}

void TRecArray::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  count_ = 0;
}

void TRecArray::SetCapacity(int32_t n) {
  if (n < count_) n = count_;
  if (n == capacity_) return;
  uint8_t* block = nullptr;
  if (n > 0) {
    block = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(n) * elem_size_));
    if (!block) throw std::bad_alloc();
    if (count_ > 0) std::memcpy(block, data_, static_cast<size_t>(count_) * elem_size_);
  }
  std::free(data_);
  data_ = block;
  capacity_ = n;
}

void TRecArray::Grow() {
  int32_t delta;
  if (capacity_ > 64)
    delta = capacity_ / 4;
  else if (capacity_ > 8)
    delta = 16;
  else
    delta = 4;
  if (capacity_ > kMaxInt32 - delta) throw std::bad_alloc();
  SetCapacity(capacity_ + delta);
}

void TRecArray::InsertRecs(int32_t index, const void* recs, int32_t n) {
  if (index < 0 || index > count_)
    throw ERecArray("Индекс массива выходит за пределы (TRecArray.InsertRecs)");
  if (n <= 0) return;
  if (n > kMaxInt32 - count_) throw std::bad_alloc();
  const size_t block = static_cast<size_t>(n) * elem_size_;
  // Records taken from this very array must survive the reallocation.
  std::vector<uint8_t> own_copy;
  const auto* src = static_cast<const uint8_t*>(recs);
  if (data_ && src >= data_ && src < data_ + static_cast<size_t>(capacity_) * elem_size_) {
    own_copy.assign(src, src + block);
    src = own_copy.data();
  }
  if (capacity_ < count_ + n) SetCapacity(count_ + n);
  uint8_t* at = data_ + static_cast<size_t>(index) * elem_size_;
  std::memmove(at + block, at, static_cast<size_t>(count_ - index) * elem_size_);
  std::memcpy(at, src, block);
  count_ += n;
}

int32_t TRecArray::Add(const void* rec) {
  if (count_ == capacity_) {
    const auto* src = static_cast<const uint8_t*>(rec);
    if (data_ && src >= data_ && src < data_ + static_cast<size_t>(capacity_) * elem_size_) {
      // A record of this very array: keep it across the reallocation.
      std::vector<uint8_t> own_copy(src, src + elem_size_);
      Grow();
      std::memcpy(data_ + static_cast<size_t>(count_) * elem_size_, own_copy.data(), elem_size_);
      return count_++;
    }
    Grow();
  }
  std::memcpy(data_ + static_cast<size_t>(count_) * elem_size_, rec, elem_size_);
  return count_++;
}

void* TRecArray::GetPtr(int32_t index) {
  if (index < 0 || index >= count_)
    throw ERecArray("Индекс массива выходит за пределы (TRecArray.GetPtr)");
  return data_ + static_cast<size_t>(index) * elem_size_;
}

const void* TRecArray::GetPtr(int32_t index) const {
  return const_cast<TRecArray*>(this)->GetPtr(index);
}

void TRecArray::Swap(TRecArray& other) {
  ATLOR_ASSERT(other.elem_size_ == elem_size_, "Element size mismatch (TRecArray.Swap)");
  std::swap(data_, other.data_);
  std::swap(capacity_, other.capacity_);
  std::swap(count_, other.count_);
}

}  // namespace atlor
