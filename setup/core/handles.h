// Owners for every kind of handle the programs hold, so that each one is released
// on every path from the line that opens it. Each owner is non-copyable and movable.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~UniqueResource() { reset(); }

  Value get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Invalid(); }
  Value release() { return std::exchange(value_, Traits::Invalid()); }
  void reset(Value value = Traits::Invalid()) {
    Value old = std::exchange(value_, value);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  // For APIs that return the value through an out-parameter.
  Value* put() {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

// Process, thread, event and mutex handles: NULL means none.
struct KernelHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// GDI regions and other GDI objects: NULL means none.
struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { DeleteObject(h); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

// CreateFileW handles: INVALID_HANDLE_VALUE means none.
struct FileHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value h) { CloseHandle(h); }
};
using UniqueFile = UniqueResource<FileHandleTraits>;

struct FindHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value h) { FindClose(h); }
};
using UniqueFind = UniqueResource<FindHandleTraits>;

struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { RegCloseKey(h); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

struct LocalMemoryTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static void Close(Value p) { LocalFree(p); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

struct CoTaskMemoryTraits {
  using Value = void*;
  static Value Invalid() { return nullptr; }
  static void Close(Value p) { CoTaskMemFree(p); }
};
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits>;

// Holds a mutex that this process owns: released, then closed.
struct OwnedMutexTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) {
    ReleaseMutex(h);
    CloseHandle(h);
  }
};
using UniqueOwnedMutex = UniqueResource<OwnedMutexTraits>;

// A COM interface pointer, released when the owner goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(std::exchange(other.p_, nullptr));
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset(T* p = nullptr) {
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

 private:
  T* p_ = nullptr;
};

// Balances a successful CoInitializeEx on this thread.
class ComApartment {
 public:
  explicit ComApartment(DWORD model) : ok_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};
