#include "platform/emulated/object.h"

#include <new>

#include "platform/emulated/system.h"

namespace corvo::emu {

void count_live(int delta) { add_count("live_objects", delta); }

// The weak reference: outlives its object and resolves to null once the object is gone.
class WeakBlock final : public IWeakReference {
public:
    // Counted on their own, so that a reference left behind shows.
    explicit WeakBlock(RefCounted *target) : target_(target) { add_count("weak_references", +1); }
    ~WeakBlock() { add_count("weak_references", -1); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IWeakReference)) {
            AddRef();
            *out = static_cast<IWeakReference *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = refs_.fetch_sub(1) - 1;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE Resolve(REFIID riid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        RefCounted *target;
        {
            // The target's destructor detaches under this lock, so it is valid memory while held.
            std::lock_guard lock(mutex_);
            if (!target_ || !target_->try_add_ref()) return S_OK;
            target = target_;
        }
        const HRESULT hr = target->query(riid, object);
        target->release();
        return hr;
    }
    void detach() {
        std::lock_guard lock(mutex_);
        target_ = nullptr;
    }

private:
    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    RefCounted *target_;
};

ULONG RefCounted::release() noexcept {
    const ULONG n = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
}

bool RefCounted::try_add_ref() noexcept {
    ULONG n = refs_.load(std::memory_order_relaxed);
    while (n != 0)
        if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    return false;
}

IWeakReference *RefCounted::weak_reference() {
    std::lock_guard lock(weak_mutex_);
    if (!weak_) {
        weak_ = new (std::nothrow) WeakBlock(this);
        if (!weak_) return nullptr;
    }
    weak_->AddRef();
    return weak_;
}

RefCounted::~RefCounted() {
    if (weak_) {
        weak_->detach();
        weak_->Release();
    }
    count_live(-1);
}

}  // namespace corvo::emu
