// Reference counting, QueryInterface, weak references and live-object accounting for emulated objects.
#pragma once

#include <atomic>
#include <mutex>

#include "corvo_emu_d3d11.h"

CORVO_EMU_IID(IWeakReference, 0x00000037, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
CORVO_EMU_IID(IWeakReferenceSource, 0x00000038, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

struct IWeakReference : IUnknown {
    // S_OK with null once the object is gone, as on Windows.
    virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID riid, void **object) = 0;

protected:
    ~IWeakReference() = default;
};

struct IWeakReferenceSource : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference **weak) = 0;

protected:
    ~IWeakReferenceSource() = default;
};

namespace corvo::emu {

void count_live(int delta);

class WeakBlock;

// Counted state shared by every emulated object; the interface part lives in Object<I>.
class RefCounted {
public:
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

    ULONG add_ref() noexcept { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG release() noexcept;
    // A strong reference if the object still lives (used by weak references).
    bool try_add_ref() noexcept;
    IWeakReference *weak_reference();  // new reference, or null when out of memory
    virtual IUnknown *unknown() noexcept = 0;
    virtual HRESULT query(REFIID iid, void **out) noexcept = 0;

protected:
    RefCounted() { count_live(+1); }
    virtual ~RefCounted();

private:
    std::atomic<ULONG> refs_{1};
    std::mutex weak_mutex_;
    WeakBlock *weak_ = nullptr;
};

// An emulated object that implements the interface chain of I; `implements` lists the IIDs of the chain.
template <class I>
class Object : public I, public RefCounted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return query(iid, out); }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(); }
    ULONG STDMETHODCALLTYPE Release() override { return release(); }
    IUnknown *unknown() noexcept override { return static_cast<I *>(this); }

    HRESULT query(REFIID iid, void **out) noexcept override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || implements(iid)) {
            add_ref();
            *out = static_cast<I *>(this);
            return S_OK;
        }
        if (iid == __uuidof(IWeakReferenceSource) && weak_source_) {
            add_ref();
            *out = &weak_source_adapter_;
            return S_OK;
        }
        return E_NOINTERFACE;
    }

protected:
    explicit Object(bool weak_source = false) : weak_source_(weak_source), weak_source_adapter_(this) {}
    virtual bool implements(REFIID iid) const noexcept = 0;

private:
    // IWeakReferenceSource as a second face of the same object, sharing its count.
    struct WeakSourceAdapter final : IWeakReferenceSource {
        explicit WeakSourceAdapter(Object *owner) : owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return owner->query(iid, out); }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner->add_ref(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner->release(); }
        HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference **weak) override {
            if (!weak) return E_POINTER;
            *weak = owner->weak_reference();
            return *weak ? S_OK : E_OUTOFMEMORY;
        }
        Object *owner;
    };

    bool weak_source_;
    WeakSourceAdapter weak_source_adapter_;
};

}  // namespace corvo::emu
