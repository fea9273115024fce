// One counted reference to a COM object. Storing a new object releases the previous one.
#pragma once

#include <utility>

namespace corvo {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already owns.
    static ComPtr attach(T *raw) noexcept {
        ComPtr p;
        p.ptr_ = raw;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr share(T *raw) noexcept {
        if (raw) raw->AddRef();
        return attach(raw);
    }
    ComPtr(const ComPtr &other) noexcept : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr &&other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr &operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() noexcept {
        if (T *old = std::exchange(ptr_, nullptr)) old->Release();
    }
    T *get() const noexcept { return ptr_; }
    T *operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    // Releases the current object and gives the address for an out parameter.
    T **put() noexcept {
        reset();
        return &ptr_;
    }
    T *detach() noexcept { return std::exchange(ptr_, nullptr); }

private:
    T *ptr_ = nullptr;
};

}  // namespace corvo
