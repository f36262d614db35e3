#pragma once

#include <cstdint>
#include <type_traits>

#include "core/exception.h"

namespace atlor {

class ERecArray : public Exception {
 public:
  using Exception::Exception;
};

// A growable array of fixed-size, trivially copyable records: Data, ElemSize, Capacity (records
// allocated) and Count (records in use). Growing by single records follows the rule of Grow();
// inserting a block makes room for exactly that block.
class TRecArray {
 public:
  explicit TRecArray(int32_t elem_size);
  TRecArray(const TRecArray&) = delete;
  TRecArray& operator=(const TRecArray&) = delete;
  ~TRecArray();

  void* Data() { return data_; }
  const void* Data() const { return data_; }
  int32_t ElemSize() const { return elem_size_; }
  int32_t Capacity() const { return capacity_; }
  int32_t Count() const { return count_; }

  // Copies other's records; ERecArray "Не совпадает размер элемента (TRecArray.Assign)" when
  // the element sizes differ.
  void Assign(const TRecArray& other);
  // Frees the records: Capacity and Count 0.
  void Clear();
  // Reallocates to n records (at least Count; none for n <= 0), keeping the records in use.
  void SetCapacity(int32_t n);
  // Grows the capacity by Capacity / 4 above 64, by 16 from 9 to 64, by 4 up to 8.
  void Grow();
  // Inserts n records before index (0..Count; else ERecArray "Индекс массива выходит за
  // пределы (TRecArray.InsertRecs)"), making the capacity exactly Count + n when smaller.
  void InsertRecs(int32_t index, const void* recs, int32_t n);
  // Appends one record, growing first when full; returns its index.
  int32_t Add(const void* rec);
  // Address of record index (0..Count-1; else ERecArray "Индекс массива выходит за пределы
  // (TRecArray.GetPtr)").
  void* GetPtr(int32_t index);
  const void* GetPtr(int32_t index) const;
  // Exchanges the contents of two arrays of the same element size.
  void Swap(TRecArray& other);

 private:
  uint8_t* data_ = nullptr;
  int32_t elem_size_;
  int32_t capacity_ = 0;
  int32_t count_ = 0;
};

// A TRecArray of records of type T, with typed access.
template <class T>
class TRecArrayOf : public TRecArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  TRecArrayOf() : TRecArray(static_cast<int32_t>(sizeof(T))) {}

  T* begin() { return static_cast<T*>(Data()); }
  T* end() { return begin() + Count(); }
  const T* begin() const { return static_cast<const T*>(Data()); }
  const T* end() const { return begin() + Count(); }
  // Unchecked access for loops over 0..Count-1; At() checks.
  T& operator[](int32_t i) { return begin()[i]; }
  const T& operator[](int32_t i) const { return begin()[i]; }
  T& At(int32_t i) { return *static_cast<T*>(GetPtr(i)); }
  const T& At(int32_t i) const { return *static_cast<const T*>(GetPtr(i)); }
  int32_t Add(const T& rec) { return TRecArray::Add(&rec); }
};

}  // namespace atlor
