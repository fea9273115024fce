// The WinRT interfaces the test capture service, the dispatcher queue and the Direct3D device interop implement,
// written from the published slot tables (IIDs, slot order, parameter types), independently of the library's
// own declarations, so that a transcription fault on either side shows as a failing capture under Wine.
// Every method's slot is its declaration order after the IUnknown (0-2) or IInspectable (0-5) base.
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <inspectable.h>
#include <winstring.h>
#include <eventtoken.h>
#include <oaidl.h>

namespace wine_wgc {

// A GUID from its canonical text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", at compile time.
constexpr unsigned hex_digit(char c) {
    return c >= '0' && c <= '9' ? unsigned(c - '0') : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10) : throw "hex";
}
constexpr unsigned long long hex_at(const char *text, int first, int digits) {
    unsigned long long value = 0;
    for (int i = 0; i < digits; ++i) value = value * 16 + hex_digit(text[first + i]);
    return value;
}
constexpr GUID guid(const char (&text)[37]) {
    GUID g{};
    g.Data1 = static_cast<unsigned long>(hex_at(text, 0, 8));
    g.Data2 = static_cast<unsigned short>(hex_at(text, 9, 4));
    g.Data3 = static_cast<unsigned short>(hex_at(text, 14, 4));
    constexpr int offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<unsigned char>(hex_at(text, offsets[i], 2));
    return g;
}

inline constexpr GUID kIID_IUnknown = guid("00000000-0000-0000-c000-000000000046");
inline constexpr GUID kIID_IInspectable = guid("af86e2e0-b12d-4c6a-9c5a-d7aa65101e90");
inline constexpr GUID kIID_IAgileObject = guid("94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90");
inline constexpr GUID kIID_IActivationFactory = guid("00000035-0000-0000-c000-000000000046");
inline constexpr GUID kIID_IAsyncInfo = guid("00000036-0000-0000-c000-000000000046");

// A call on an object after its Close.
inline constexpr HRESULT kClosed = HRESULT(0x80000013);  // RO_E_CLOSED
// A method called in a state that does not allow it.
inline constexpr HRESULT kIllegalMethodCall = HRESULT(0x8000000E);  // E_ILLEGAL_METHOD_CALL

struct SizeInt32 {
    INT32 Width;
    INT32 Height;
};
struct TimeSpan {
    INT64 Duration;  // 100 ns units
};
struct Direct3DSurfaceDescription {
    INT32 Format;  // DirectXPixelFormat
    INT32 Width;
    INT32 Height;
    INT32 SampleCount;
    INT32 SampleQuality;
};
static_assert(sizeof(SizeInt32) == 8 && sizeof(TimeSpan) == 8 && sizeof(EventRegistrationToken) == 8);
static_assert(sizeof(boolean) == 1);

inline constexpr INT32 kPixelFormatB8G8R8A8 = 87;           // DirectXPixelFormat::B8G8R8A8UIntNormalized
inline constexpr INT32 kPixelFormatR16G16B16A16Float = 10;  // DirectXPixelFormat::R16G16B16A16Float

// What RoGetActivationFactory asks a class's module for; statics and interop interfaces are reached from it.
struct IActivationFactory : IInspectable {
    static constexpr GUID iid = kIID_IActivationFactory;
    virtual HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable **instance) = 0;
};

// Windows.Graphics.DirectX.Direct3D11
struct IDirect3DDxgiInterfaceAccess : IUnknown {
    static constexpr GUID iid = guid("a9b3d012-3df2-4ee3-b8d1-8695f457d3c1");
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void **out) = 0;
};
struct IDirect3DDevice : IInspectable {
    static constexpr GUID iid = guid("a37624ab-8d5f-4650-9d3e-9eae3d9bc670");
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};
struct IDirect3DSurface : IInspectable {
    static constexpr GUID iid = guid("0bf4a146-13c1-4694-bee3-7abf15eaf586");
    virtual HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription *value) = 0;
};

// Windows.Foundation
struct IClosable : IInspectable {
    static constexpr GUID iid = guid("30d5a829-7fa4-4026-83bb-d75bae4ea99e");
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Graphics.Capture
struct IGraphicsCaptureItem;
struct IDirect3D11CaptureFramePool;

// TypedEventHandler<GraphicsCaptureItem, Object>
struct IClosedHandler : IUnknown {
    static constexpr GUID iid = guid("e9c610c0-a68c-5bd9-8021-8589346eeee2");
    virtual HRESULT STDMETHODCALLTYPE Invoke(IGraphicsCaptureItem *sender, IInspectable *args) = 0;
};
// TypedEventHandler<Direct3D11CaptureFramePool, Object>
struct IFrameArrivedHandler : IUnknown {
    static constexpr GUID iid = guid("51a947f7-79cf-5a3e-a3a5-1289cfa6dfe8");
    virtual HRESULT STDMETHODCALLTYPE Invoke(IDirect3D11CaptureFramePool *sender, IInspectable *args) = 0;
};

struct IGraphicsCaptureItemInterop : IUnknown {
    static constexpr GUID iid = guid("3628e81b-3cac-4c60-b7f4-23ce0e0c3356");
    virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID iid, void **out) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID iid, void **out) = 0;
};
struct IGraphicsCaptureItem : IInspectable {
    static constexpr GUID iid = guid("79c3f95b-31f7-4ec2-a464-632ef5d30760");
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32 *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Closed(IClosedHandler *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) = 0;
};
struct IDirect3D11CaptureFrame : IInspectable {
    static constexpr GUID iid = guid("fa50c623-38da-4b32-acf3-fa9734ad800e");
    virtual HRESULT STDMETHODCALLTYPE get_Surface(IDirect3DSurface **value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32 *value) = 0;
};
struct IGraphicsCaptureSession : IInspectable {
    static constexpr GUID iid = guid("814e42a9-f70f-4ad7-939b-fddcc6eb880d");
    virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};
struct IGraphicsCaptureSession2 : IInspectable {
    static constexpr GUID iid = guid("2c39ae40-7d2e-5044-804e-8b6799d4cf9e");
    virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};
struct IGraphicsCaptureSession3 : IInspectable {
    static constexpr GUID iid = guid("f2cdd966-22ae-5ea1-9596-3a289344c3be");
    virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};
struct IGraphicsCaptureSession5 : IInspectable {
    static constexpr GUID iid = guid("67c0ea62-1f85-5061-925a-239be0ac09cb");
    virtual HRESULT STDMETHODCALLTYPE get_MinUpdateInterval(TimeSpan *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MinUpdateInterval(TimeSpan value) = 0;
};
struct IDirect3D11CaptureFramePool : IInspectable {
    static constexpr GUID iid = guid("24eb6d22-1975-422e-82e7-780dbd8ddf24");
    virtual HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                                               SizeInt32 size) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame **frame) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(IFrameArrivedHandler *handler,
                                                       EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem *item,
                                                           IGraphicsCaptureSession **session) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable **queue) = 0;
};
struct IDirect3D11CaptureFramePoolStatics : IInspectable {
    static constexpr GUID iid = guid("7784056a-67aa-4d53-ae54-1088d5a8ca21");
    virtual HRESULT STDMETHODCALLTYPE Create(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                                             SizeInt32 size, IDirect3D11CaptureFramePool **pool) = 0;
};
// Slot 6. FrameArrived of its pools is raised on the thread that rendered the frame.
struct IDirect3D11CaptureFramePoolStatics2 : IInspectable {
    static constexpr GUID iid = guid("589b103f-6bbc-5df5-a991-02e28b3b66d5");
    virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice *device, INT32 pixel_format, INT32 buffers,
                                                         SizeInt32 size, IDirect3D11CaptureFramePool **pool) = 0;
};

// Windows.Foundation.Metadata
struct IApiInformationStatics : IInspectable {
    static constexpr GUID iid = guid("997439fe-f681-4a11-b416-c13a47e8ba36");
    virtual HRESULT STDMETHODCALLTYPE IsTypePresent(HSTRING type, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresent(HSTRING type, HSTRING method, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsMethodPresentWithArity(HSTRING type, HSTRING method, UINT32 arity,
                                                               boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEventPresent(HSTRING type, HSTRING event, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPropertyPresent(HSTRING type, HSTRING property, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsReadOnlyPropertyPresent(HSTRING type, HSTRING property, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsWriteablePropertyPresent(HSTRING type, HSTRING property, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEnumNamedValuePresent(HSTRING type, HSTRING name, boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajor(HSTRING contract, UINT16 major,
                                                                  boolean *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsApiContractPresentByMajorAndMinor(HSTRING contract, UINT16 major,
                                                                          UINT16 minor, boolean *value) = 0;
};

// Windows.System dispatcher queue
enum DispatcherQueueThreadType : INT32 { kThreadDedicated = 1, kThreadCurrent = 2 };
struct DispatcherQueueOptions {
    DWORD dwSize;
    INT32 threadType;
    INT32 apartmentType;
};
static_assert(sizeof(DispatcherQueueOptions) == 12);

struct IDispatcherQueueHandler : IUnknown {
    static constexpr GUID iid = guid("dfa2dc9c-1a2d-4917-98f2-939af1d6e0c8");
    virtual HRESULT STDMETHODCALLTYPE Invoke() = 0;
};
struct IDispatcherQueue : IInspectable {
    static constexpr GUID iid = guid("603e88e4-a338-4ffe-a457-a5cfb9ceb899");
    virtual HRESULT STDMETHODCALLTYPE CreateTimer(IInspectable **timer) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryEnqueue(IDispatcherQueueHandler *callback, boolean *queued) = 0;
    virtual HRESULT STDMETHODCALLTYPE TryEnqueueWithPriority(INT32 priority, IDispatcherQueueHandler *callback,
                                                             boolean *queued) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ShutdownStarting(IUnknown *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ShutdownStarting(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_ShutdownCompleted(IUnknown *handler, EventRegistrationToken *token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_ShutdownCompleted(EventRegistrationToken token) = 0;
};
struct IDispatcherQueue2 : IInspectable {
    static constexpr GUID iid = guid("c822c647-30ef-506e-bd1e-a647ae6675ff");
    virtual HRESULT STDMETHODCALLTYPE get_HasThreadAccess(boolean *value) = 0;
};
enum AsyncStatus : INT32 { AsyncStarted = 0, AsyncCompleted = 1, AsyncCanceled = 2, AsyncError = 3 };
struct IAsyncInfo : IInspectable {
    static constexpr GUID iid = kIID_IAsyncInfo;
    virtual HRESULT STDMETHODCALLTYPE get_Id(UINT32 *id) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus *status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT *code) = 0;
    virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
struct IAsyncActionCompletedHandler;
struct IAsyncAction : IInspectable {
    static constexpr GUID iid = guid("5a648006-843a-4da9-865b-9d26e5dfad7b");
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncActionCompletedHandler *handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncActionCompletedHandler **handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults() = 0;
};
struct IAsyncActionCompletedHandler : IUnknown {
    static constexpr GUID iid = guid("a4ed5c81-76c9-40bd-8be6-b1d90fb20ae7");
    virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncAction *action, AsyncStatus status) = 0;
};
// GraphicsCaptureSession's statics, and GraphicsCaptureAccess with its IAsyncOperation<AppCapabilityAccessStatus>.
struct IGraphicsCaptureSessionStatics : IInspectable {
    static constexpr GUID iid = guid("2224a540-5974-49aa-b232-0882536f4cb5");
    virtual HRESULT STDMETHODCALLTYPE IsSupported(boolean *value) = 0;
};
struct IAccessStatusOperation : IInspectable {
    static constexpr GUID iid = guid("827caf42-5fe6-5b5b-84ce-c44834134d3d");
    virtual HRESULT STDMETHODCALLTYPE put_Completed(IUnknown *handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Completed(IUnknown **handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResults(INT32 *status) = 0;
};
struct IGraphicsCaptureAccessStatics : IInspectable {
    static constexpr GUID iid = guid("743ed370-06ec-5040-a58a-901f0f757095");
    virtual HRESULT STDMETHODCALLTYPE RequestAccessAsync(INT32 kind, IAccessStatusOperation **operation) = 0;
};
struct IDispatcherQueueController : IInspectable {
    static constexpr GUID iid = guid("22f34e66-50db-4e36-a98d-61c01b384d20");
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IDispatcherQueue **queue) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShutdownQueueAsync(IAsyncAction **operation) = 0;
};
struct IDispatcherQueueStatics : IInspectable {
    static constexpr GUID iid = guid("a96d83d7-9371-4517-9245-d0824ac12c74");
    virtual HRESULT STDMETHODCALLTYPE GetForCurrentThread(IDispatcherQueue **queue) = 0;
};

// Weak references, which the platform's objects hand out, and the error object a failing call leaves behind.
struct IWeakReference : IUnknown {
    static constexpr GUID iid = guid("00000037-0000-0000-c000-000000000046");
    virtual HRESULT STDMETHODCALLTYPE Resolve(REFIID iid, IInspectable **object) = 0;
};
struct IWeakReferenceSource : IUnknown {
    static constexpr GUID iid = guid("00000038-0000-0000-c000-000000000046");
    virtual HRESULT STDMETHODCALLTYPE GetWeakReference(IWeakReference **reference) = 0;
};
struct IRestrictedErrorInfo : IUnknown {
    static constexpr GUID iid = guid("82ba7092-4c88-427d-a7bc-16dd93feb67e");
    virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR *description, HRESULT *error,
                                                      BSTR *restricted_description, BSTR *capability_sid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR *reference) = 0;
};
// IErrorInfo (oaidl.h) as a listed interface.
struct IErrorInfoListed : IErrorInfo {
    static constexpr GUID iid = guid("1cf2b120-547d-101b-8e65-08002b2bf19b");
};

}  // namespace wine_wgc
