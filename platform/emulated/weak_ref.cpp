// Weak references over the emulated objects' IWeakReferenceSource; an object without one is held strongly,
// as on Windows.
#include "platform/capture.h"
#include "platform/emulated/object.h"

namespace corvo::platform {

WeakRef WeakRef::of(IUnknown *object) {
    if (!object) return WeakRef();
    ComPtr<IWeakReferenceSource> source;
    if (SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(source.put())))) {
        ComPtr<IWeakReference> weak;
        if (SUCCEEDED(source->GetWeakReference(weak.put()))) {
            ComPtr<IUnknown> as_unknown;
            weak->QueryInterface(IID_PPV_ARGS(as_unknown.put()));
            return WeakRef(std::move(as_unknown));
        }
    }
    return WeakRef(ComPtr<IUnknown>::share(object));
}

ComPtr<IUnknown> WeakRef::resolve() const noexcept {
    if (!ref_) return nullptr;
    ComPtr<IWeakReference> weak;
    if (FAILED(ref_->QueryInterface(IID_PPV_ARGS(weak.put())))) return ref_;
    ComPtr<IUnknown> strong;
    weak->Resolve(__uuidof(IUnknown), reinterpret_cast<void **>(strong.put()));
    return strong;
}

}  // namespace corvo::platform
