#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "core/exception.h"

// Reference-counted storage objects (the facade, layers, sectors, map objects) with explicit
// reference operations on the variables that hold them.
namespace atlor {

class TRefObject {
 public:
  TRefObject() = default;
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;
  // Derived classes that hold links run their Disconnect() from their own destructors too.
  virtual ~TRefObject() = default;

  // Called by the destructor and by RefFree before the last release: the object drops its links
  // to others. Does nothing here.
  virtual void Disconnect() {}
  // Diagnostics: item 0 adds the name "RefCount", item 1 the count as decimal text.
  virtual void GetProperty(int item, std::vector<std::string>& receiver) const;

  int RefCount() const { return ref_count_; }
  void AddRef() { ++ref_count_; }
  // Releases one reference; destroys the object when none is left.
  void Release() {
    if (--ref_count_ == 0) delete this;
  }
  // RefFree's work on the object: the disconnect hook runs under an extra reference, then the
  // caller's reference goes.
  void DisconnectAndRelease() {
    ++ref_count_;
    Disconnect();
    --ref_count_;
    Release();
  }

 private:
  int ref_count_ = 0;
};

// Stores obj in var and adds a reference.
template <class T>
void RefTake(T*& var, T* obj) {
  var = obj;
  if (obj) obj->AddRef();
}

// Makes dest hold src: a reference is added to src, the one held by dest released.
template <class T, class U>
void RefAssign(T*& dest, U* src) {
  if (dest == src) return;
  if (src) src->AddRef();
  T* old = dest;
  dest = src;
  if (old) old->Release();
}

// Releases the reference held by p; p becomes null.
template <class T>
void RefRelease(T*& p) {
  ATLOR_ASSERT(p != nullptr && p->RefCount() > 0, "Объект не инициализирован.");
  T* obj = p;
  p = nullptr;
  obj->Release();
}

// Disconnects the object held by p and releases p's reference; a plain object is destroyed.
template <class T>
void RefFree(T*& p) {
  if constexpr (std::is_base_of_v<TRefObject, T>) {
    ATLOR_ASSERT(p != nullptr && p->RefCount() > 0, "Объект не инициализирован.");
    T* obj = p;
    p = nullptr;
    obj->DisconnectAndRelease();
  } else {
    delete p;
    p = nullptr;
  }
}

// A list of TRefObject items, each held by one reference; an owning list frees its items with
// RefFree when they leave it, another releases them with RefRelease.
class TRefObjectList {
 public:
  explicit TRefObjectList(bool owns_items) : owns_items_(owns_items) {}
  TRefObjectList(const TRefObjectList&) = delete;
  TRefObjectList& operator=(const TRefObjectList&) = delete;
  ~TRefObjectList() { Clear(); }

  int Add(TRefObject* item);
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  TRefObject* operator[](int index) const;
  bool OwnsItems() const { return owns_items_; }

 private:
  void Drop(TRefObject* item);

  bool owns_items_;
  std::vector<TRefObject*> items_;
};

// Tag for RefHolder: take over a reference the caller already holds (a result handed out as
// "a new reference for the caller") instead of adding one.
struct TAdoptRef {};
inline constexpr TAdoptRef kAdoptRef{};

// Holds one reference for a scope (the release in the final block).
template <class T>
class RefHolder {
 public:
  explicit RefHolder(T* obj = nullptr) { RefTake(p_, obj); }
  // Takes over the caller's reference to obj: RefHolder<TSector> s(base->LoadSector(...),
  // kAdoptRef).
  RefHolder(T* obj, TAdoptRef) : p_(obj) {}
  RefHolder(const RefHolder&) = delete;
  RefHolder& operator=(const RefHolder&) = delete;
  ~RefHolder() {
    if (p_) RefRelease(p_);
  }
  void Assign(T* obj) { RefAssign(p_, obj); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace atlor
