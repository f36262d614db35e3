#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

// Reference-counted interfaces. Interfaces that cross a driver library boundary derive from
// IRefCounted: their method tables start with the three reference-counting methods, followed by
// the interface's own methods in their fixed order.
namespace atlor {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};

  // Reads the braced form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (case ignored).
  static Guid Parse(const char* braced);
  // The braced 38-character upper-case form.
  std::string ToString() const;
  friend bool operator==(const Guid& a, const Guid& b);
};

// A new random (version 4) identifier from the system's random source.
Guid NewGuid();

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultNoInterface = static_cast<int32_t>(0x80004002u);

class IRefCounted {
 public:
  // Stores a new reference to the interface `iid` in *object, or null with kResultNoInterface.
  virtual int32_t QueryInterface(const Guid& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IRefCounted() = default;
};

// Owning smart pointer over an IRefCounted interface: holds one reference.
template <class T>
class IntfPtr {
 public:
  IntfPtr() = default;
  IntfPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  IntfPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  IntfPtr(const IntfPtr& other) : IntfPtr(other.p_) {}
  IntfPtr(IntfPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  IntfPtr(const IntfPtr<U>& other) : IntfPtr(static_cast<T*>(other.get())) {}
  ~IntfPtr() { reset(); }

  IntfPtr& operator=(IntfPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static IntfPtr Adopt(T* p) {
    IntfPtr r;
    r.p_ = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(p_, nullptr); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const IntfPtr& a, const IntfPtr& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

// The reference-counted object base: destroyed when its last reference goes. Classes that
// implement interfaces forward the interfaces' AddRef and Release to it (see
// ATLOR_IMPLEMENT_REFCOUNT) and answer QueryInterface through QueryInterfaceImpl.
class TMyInterfacedObject {
 public:
  TMyInterfacedObject() = default;
  TMyInterfacedObject(const TMyInterfacedObject&) = delete;
  TMyInterfacedObject& operator=(const TMyInterfacedObject&) = delete;
  virtual ~TMyInterfacedObject() = default;

  uint32_t AddRefImpl() { return ++ref_count_; }
  uint32_t ReleaseImpl() {
    const uint32_t count = --ref_count_;
    if (count == 0) delete this;
    return count;
  }
  uint32_t RefCount() const { return ref_count_; }

  // Answers the interfaces the object implements; the base answers none.
  virtual int32_t QueryInterfaceImpl(const Guid& iid, void** object) {
    (void)iid;
    *object = nullptr;
    return kResultNoInterface;
  }

 private:
  std::atomic<uint32_t> ref_count_{0};
};

}  // namespace atlor

// Implements the three IRefCounted methods of an interface over TMyInterfacedObject.
#define ATLOR_IMPLEMENT_REFCOUNT                                                  \
  int32_t QueryInterface(const ::atlor::Guid& iid, void** object) override {     \
    return this->QueryInterfaceImpl(iid, object);                                \
  }                                                                               \
  uint32_t AddRef() override { return this->AddRefImpl(); }                       \
  uint32_t Release() override { return this->ReleaseImpl(); }
