// The COM plumbing every object of the test modules shares: QueryInterface over the interfaces an object lists,
// the IInspectable basics, an atomic reference count, and a per-module count of live objects that the tests
// read through an export, so an object the library forgets to release shows as a leak.
#pragma once

#include <atomic>
#include <cwchar>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include "winrt_contract.h"

namespace wine_wgc {

// Objects of this module alive now. Each module (service, dispatcher queue, device interop) has its own.
inline std::atomic<long> live_objects{0};

// Answers IUnknown, IAgileObject (the objects may be called from any thread, as the platform's are), IInspectable
// when the first interface derives from it, and each of `Interfaces`.
template <class... Interfaces>
class Implements : public Interfaces... {
public:
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == kIID_IUnknown || iid == kIID_IAgileObject ||
            (std::is_base_of_v<IInspectable, Primary> && iid == kIID_IInspectable))
            *out = static_cast<Primary *>(this);
        else
            (void)((iid == Interfaces::iid ? (*out = static_cast<Interfaces *>(this), true) : false) || ...);
        if (!*out) return E_NOINTERFACE;
        static_cast<Primary *>(this)->AddRef();  // the final overrider, whichever base reaches it
        return S_OK;
    }

    // IInspectable, for the interfaces that derive from it.
    HRESULT STDMETHODCALLTYPE GetIids(ULONG *count, IID **iids) {
        if (!count || !iids) return E_POINTER;
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING *name) {
        if (!name) return E_POINTER;
        const wchar_t *text = class_name();
        return WindowsCreateString(text, UINT32(std::wcslen(text)), name);
    }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel *level) {
        if (!level) return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

protected:
    virtual const wchar_t *class_name() const = 0;
};

// A counted, reference-counted object; it deletes itself with its last reference. The count is kept apart from
// the object, so that a weak reference to the object can outlive it.
template <class... Interfaces>
class Object : public Implements<Interfaces...> {
public:
    Object() { live_objects.fetch_add(1, std::memory_order_relaxed); }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    virtual ~Object() { live_objects.fetch_sub(1, std::memory_order_relaxed); }

    ULONG STDMETHODCALLTYPE AddRef() override { return refs_->fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_->fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    const std::shared_ptr<std::atomic<ULONG>> &count() const { return refs_; }

private:
    const std::shared_ptr<std::atomic<ULONG>> refs_ = std::make_shared<std::atomic<ULONG>>(1);
};

// A weak reference: Resolve hands out a new reference while the object lives, and null (with S_OK) once its
// count has reached zero. The count is raised only from above zero, so a dying object is never revived.
class WeakReference final : public Object<IWeakReference> {
public:
    WeakReference(std::shared_ptr<std::atomic<ULONG>> count, IUnknown *object)
        : count_(std::move(count)), object_(object) {}

    HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, IInspectable **out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        for (ULONG refs = count_->load(); refs != 0;)
            if (count_->compare_exchange_weak(refs, refs + 1)) {
                const HRESULT hr = object_->QueryInterface(iid, reinterpret_cast<void **>(out));
                object_->Release();
                return hr;
            }
        return S_OK;
    }

private:
    const wchar_t *class_name() const override { return L"WeakReference"; }
    const std::shared_ptr<std::atomic<ULONG>> count_;
    IUnknown *const object_;  // not held
};

// An object that hands out weak references to itself, as the platform's event sources do.
template <class... Interfaces>
class WeakSource : public Object<Interfaces..., IWeakReferenceSource> {
public:
    HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference **out) override {
        if (!out) return E_POINTER;
        using Primary = typename WeakSource::Primary;
        *out = new WeakReference(this->count(), static_cast<Primary *>(this));
        return S_OK;
    }
};

// A class's activation factory: one per process, never freed (callers cache factories for the process's life),
// so it is not counted. The classes here are static-only, so there is nothing to activate.
template <class... Statics>
class Factory : public Implements<IActivationFactory, Statics...> {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) override {
        if (instance) *instance = nullptr;
        return E_NOTIMPL;
    }
};

// IAsyncInfo but for its status, which the operation tells; listed among an object's interfaces in place of
// IAsyncInfo.
struct AsyncInfo : IAsyncInfo {
    HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) override { return id ? (*id = 1, S_OK) : E_POINTER; }
    HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) override {
        return code ? (*code = S_OK, S_OK) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
};

// Whether `object` says it may be called from any thread.
inline bool agile(IUnknown *object) {
    IUnknown *agile = nullptr;
    if (FAILED(object->QueryInterface(kIID_IAgileObject, reinterpret_cast<void **>(&agile)))) return false;
    agile->Release();
    return true;
}

// An owning interface pointer: the one reference it holds is released when it goes.
template <class I>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    static Ref attach(I *object) {
        Ref ref;
        ref.object_ = object;
        return ref;
    }
    static Ref share(I *object) {
        if (object) object->AddRef();
        return attach(object);
    }
    Ref(const Ref &other) : object_(other.object_) {
        if (object_) object_->AddRef();
    }
    Ref(Ref &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref &operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() {
        if (object_) object_->Release();
    }
    I *get() const { return object_; }
    I *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    I **put() {
        *this = nullptr;
        return &object_;
    }

private:
    I *object_ = nullptr;
};

// Hands out a new reference to `object` (which may be null) through `out`.
template <class I>
HRESULT hand_out(I *object, I **out) {
    if (!out) return E_POINTER;
    if (object) object->AddRef();
    *out = object;
    return S_OK;
}

// The text of an HSTRING argument; a null HSTRING is the empty string.
inline const wchar_t *text_of(HSTRING string) {
    const wchar_t *text = WindowsGetStringRawBuffer(string, nullptr);
    return text ? text : L"";
}

}  // namespace wine_wgc
