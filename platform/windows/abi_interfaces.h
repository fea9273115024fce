// The WinRT capture interfaces at the ABI, declared privately because neither toolchain's headers offer all of
// them in a form both compile. Slots follow declaration order: no virtual is overloaded (MSVC would reorder the
// overloads), none has a virtual destructor, and a WinRT Boolean is `boolean`, one byte.
#pragma once

#include <eventtoken.h>
#include <inspectable.h>
#include <oleauto.h>

#include "platform/graphics.h"
#include "platform/windows/abi_ids.h"

namespace corvo_wgc_abi {

// The toolchain's types the ABI passes, as the ABI lays them out.
static_assert(sizeof(boolean) == 1, "a WinRT Boolean is one byte");
static_assert(sizeof(EventRegistrationToken) == 8, "tokens travel by value in one register");
static_assert(sizeof(HSTRING_HEADER) == 24, "x64 reference-string header");
static_assert(sizeof(wchar_t) == 2, "HSTRINGs hold UTF-16");

struct IDirect3D11CaptureFramePool;
struct IGraphicsCaptureItem;

// IUnknown-based interop interface of the GraphicsCaptureItem activation factory.
struct IGraphicsCaptureItemInterop : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID riid, void **result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID riid, void **result) = 0;
};

// TypedEventHandler<Direct3D11CaptureFramePool, Object>: a delegate, so IUnknown-based.
struct IFrameArrivedHandler : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IDirect3D11CaptureFramePool *sender, ::IInspectable *args) = 0;
};

// TypedEventHandler<GraphicsCaptureItem, Object>.
struct IClosedHandler : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IGraphicsCaptureItem *sender, ::IInspectable *args) = 0;
};

struct IGraphicsCaptureItem : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32 *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Closed(IClosedHandler *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) = 0;
};

struct IDirect3DDevice : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};

struct IDirect3DDxgiInterfaceAccess : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void **p) = 0;
};

struct IDirect3D11CaptureFrame : ::IInspectable {
    // The value is an IDirect3DSurface; only its IDirect3DDxgiInterfaceAccess is used.
    virtual HRESULT STDMETHODCALLTYPE get_Surface(::IInspectable **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32 *value) = 0;
};

struct IGraphicsCaptureSession : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};

struct IGraphicsCaptureSession2 : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};

struct IGraphicsCaptureSession3 : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};

struct IGraphicsCaptureSession5 : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_MinUpdateInterval(TimeSpan *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MinUpdateInterval(TimeSpan value) = 0;
};

struct IGraphicsCaptureSessionStatics : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE IsSupported(boolean *result) = 0;
};

// IAsyncOperation<AppCapabilityAccessStatus>; the status is a 32-bit enumeration.
struct IAccessStatusOperation : ::IInspectable {
    // The handler is an AsyncOperationCompletedHandler<AppCapabilityAccessStatus>; the layer never sets one.
    virtual HRESULT STDMETHODCALLTYPE put_Completed(::IUnknown *handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(::IUnknown **handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(int32_t *results) = 0;
};

// GraphicsCaptureAccessKind: Borderless 0, Programmatic 1.
struct IGraphicsCaptureAccessStatics : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(int32_t request, IAccessStatusOperation **operation) = 0;
};

struct IDirect3D11CaptureFramePool : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice *device, int32_t pixelFormat, int32_t numberOfBuffers,
                                               SizeInt32 size) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame **result) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(IFrameArrivedHandler *handler,
                                                       EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem *item,
                                                           IGraphicsCaptureSession **result) = 0;
    // The value is an IDispatcherQueue.
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(::IInspectable **value) = 0;
};

struct IDirect3D11CaptureFramePoolStatics : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Create(IDirect3DDevice *device, int32_t pixelFormat, int32_t numberOfBuffers,
                                             SizeInt32 size, IDirect3D11CaptureFramePool **result) = 0;
};

// Same parameters as Create; FrameArrived is raised on the service's worker thread (Windows 10 1809 on).
struct IDirect3D11CaptureFramePoolStatics2 : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice *device, int32_t pixelFormat,
                                                         int32_t numberOfBuffers, SizeInt32 size,
                                                         IDirect3D11CaptureFramePool **result) = 0;
};

struct IClosable : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct IDispatcherQueueController : ::IInspectable {
    // The value is an IDispatcherQueue.
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(::IInspectable **value) = 0;
    // The operation is an IAsyncAction.
    virtual HRESULT STDMETHODCALLTYPE ShutdownQueueAsync(::IInspectable **operation) = 0;
};

// Windows.System.DispatcherQueueHandler: a delegate, so based on IUnknown; Invoke is slot 3.
struct IDispatcherQueueHandler : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};

// Windows.System.IDispatcherQueue, up to the last slot the library calls (TryEnqueue, slot 7).
struct IDispatcherQueue : ::IInspectable {
    // The result is an IDispatcherQueueTimer.
    virtual HRESULT STDMETHODCALLTYPE CreateTimer(::IInspectable **result) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryEnqueue(IDispatcherQueueHandler *callback, boolean *result) = 0;
};

// Windows.Foundation.AsyncActionCompletedHandler: a delegate, so based on IUnknown; Invoke is slot 3. The first
// parameter is the IAsyncAction, the second an AsyncStatus.
struct IAsyncActionCompletedHandler : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(::IInspectable *asyncInfo, int32_t status) = 0;
};

// Windows.Foundation.IAsyncAction, up to the last slot the library calls (put_Completed, slot 6).
struct IAsyncAction : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncActionCompletedHandler *handler) = 0;
};

// AsyncStatus: Started 0, Completed 1, Canceled 2, Error 3.
struct IAsyncInfo : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(int32_t *status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *errorCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

struct IApiInformationStatics : ::IInspectable {
    virtual HRESULT STDMETHODCALLTYPE IsTypePresent(HSTRING typeName, boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING typeName, HSTRING methodName, boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresentWithArity(HSTRING typeName, HSTRING methodName,
                                                               UINT32 inputParameterCount, boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEventPresent(HSTRING typeName, HSTRING eventName, boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropertyPresent(HSTRING typeName, HSTRING propertyName, boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsReadOnlyPropertyPresent(HSTRING typeName, HSTRING propertyName,
                                                                boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsWriteablePropertyPresent(HSTRING typeName, HSTRING propertyName,
                                                                 boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEnumNamedValuePresent(HSTRING enumTypeName, HSTRING valueName,
                                                              boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajor(HSTRING contractName, UINT16 majorVersion,
                                                                  boolean *result) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajorAndMinor(HSTRING contractName, UINT16 majorVersion,
                                                                          UINT16 minorVersion, boolean *result) = 0;
};

struct IWeakReference : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID riid, ::IInspectable **objectReference) = 0;
};

struct IWeakReferenceSource : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference **weakReference) = 0;
};

struct IRestrictedErrorInfo : ::IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR *description, HRESULT *error, BSTR *restrictedDescription,
                                                      BSTR *capabilitySid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR *reference) = 0;
};

// The flat functions looked up at run time, so that the DLL loads where they are missing.
using CreateDispatcherQueueControllerFn = HRESULT(WINAPI *)(DispatcherQueueOptions options,
                                                            IDispatcherQueueController **controller);
using CreateDirect3D11DeviceFromDXGIDeviceFn = HRESULT(WINAPI *)(::IDXGIDevice *dxgiDevice,
                                                                 ::IInspectable **graphicsDevice);

}  // namespace corvo_wgc_abi
