// Weak references over IWeakReferenceSource; an object that offers none is held strongly.
#include "platform/capture.h"
#include "platform/windows/abi_interfaces.h"

namespace corvo::platform {
namespace abi = corvo_wgc_abi;

WeakRef WeakRef::of(IUnknown *object) {
    if (!object) return WeakRef();
    ComPtr<abi::IWeakReferenceSource> source;
    if (SUCCEEDED(object->QueryInterface(abi::kIID_IWeakReferenceSource, reinterpret_cast<void **>(source.put())))) {
        ComPtr<abi::IWeakReference> weak;
        if (SUCCEEDED(source->GetWeakReference(weak.put())) && weak)
            return WeakRef(ComPtr<IUnknown>::attach(weak.detach()));
    }
    return WeakRef(ComPtr<IUnknown>::share(object));
}

ComPtr<IUnknown> WeakRef::resolve() const noexcept {
    if (!ref_) return nullptr;
    ComPtr<abi::IWeakReference> weak;
    if (FAILED(ref_->QueryInterface(abi::kIID_IWeakReference, reinterpret_cast<void **>(weak.put())))) return ref_;
    // Null, with S_OK, once the object is gone.
    ::IInspectable *strong = nullptr;
    if (FAILED(weak->Resolve(abi::kIID_IUnknown, &strong))) return nullptr;
    return ComPtr<IUnknown>::attach(strong);
}

}  // namespace corvo::platform
