// The WinRT capture ABI's identifiers and plain structs: interface IDs, runtime class names and the value types
// passed by the capture interfaces. Only GUID is needed, so the tests check these on every platform.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Private to the Windows platform layer. Named so that it clashes with neither toolchain's WinRT headers.
namespace corvo_wgc_abi {

// Every interface the layer calls or implements.
inline constexpr GUID kIID_IUnknown{0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_IAgileObject{
    0x94ea2b94, 0xe9cc, 0x49e0, {0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90}};
inline constexpr GUID kIID_IGraphicsCaptureItemInterop{
    0x3628e81b, 0x3cac, 0x4c60, {0xb7, 0xf4, 0x23, 0xce, 0x0e, 0x0c, 0x33, 0x56}};
inline constexpr GUID kIID_IGraphicsCaptureItem{
    0x79c3f95b, 0x31f7, 0x4ec2, {0xa4, 0x64, 0x63, 0x2e, 0xf5, 0xd3, 0x07, 0x60}};
inline constexpr GUID kIID_IDirect3D11CaptureFramePoolStatics{
    0x7784056a, 0x67aa, 0x4d53, {0xae, 0x54, 0x10, 0x88, 0xd5, 0xa8, 0xca, 0x21}};
inline constexpr GUID kIID_IDirect3D11CaptureFramePoolStatics2{
    0x589b103f, 0x6bbc, 0x5df5, {0xa9, 0x91, 0x02, 0xe2, 0x8b, 0x3b, 0x66, 0xd5}};
inline constexpr GUID kIID_IDirect3D11CaptureFramePool{
    0x24eb6d22, 0x1975, 0x422e, {0x82, 0xe7, 0x78, 0x0d, 0xbd, 0x8d, 0xdf, 0x24}};
inline constexpr GUID kIID_IDirect3D11CaptureFrame{
    0xfa50c623, 0x38da, 0x4b32, {0xac, 0xf3, 0xfa, 0x97, 0x34, 0xad, 0x80, 0x0e}};
inline constexpr GUID kIID_IGraphicsCaptureSession{
    0x814e42a9, 0xf70f, 0x4ad7, {0x93, 0x9b, 0xfd, 0xdc, 0xc6, 0xeb, 0x88, 0x0d}};
inline constexpr GUID kIID_IGraphicsCaptureSession2{
    0x2c39ae40, 0x7d2e, 0x5044, {0x80, 0x4e, 0x8b, 0x67, 0x99, 0xd4, 0xcf, 0x9e}};
inline constexpr GUID kIID_IGraphicsCaptureSession3{
    0xf2cdd966, 0x22ae, 0x5ea1, {0x95, 0x96, 0x3a, 0x28, 0x93, 0x44, 0xc3, 0xbe}};
inline constexpr GUID kIID_IGraphicsCaptureSession5{
    0x67c0ea62, 0x1f85, 0x5061, {0x92, 0x5a, 0x23, 0x9b, 0xe0, 0xac, 0x09, 0xcb}};
inline constexpr GUID kIID_IGraphicsCaptureSessionStatics{
    0x2224a540, 0x5974, 0x49aa, {0xb2, 0x32, 0x08, 0x82, 0x53, 0x6f, 0x4c, 0xb5}};
inline constexpr GUID kIID_IGraphicsCaptureAccessStatics{
    0x743ed370, 0x06ec, 0x5040, {0xa5, 0x8a, 0x90, 0x1f, 0x0f, 0x75, 0x70, 0x95}};
// IAsyncOperation<AppCapabilityAccessStatus>, from kAccessOperationSignature by SHA-1.
inline constexpr GUID kIID_IAccessStatusOperation{
    0x827caf42, 0x5fe6, 0x5b5b, {0x84, 0xce, 0xc4, 0x48, 0x34, 0x13, 0x4d, 0x3d}};
inline constexpr GUID kIID_IClosable{0x30d5a829, 0x7fa4, 0x4026, {0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e}};
inline constexpr GUID kIID_IDirect3DDevice{
    0xa37624ab, 0x8d5f, 0x4650, {0x9d, 0x3e, 0x9e, 0xae, 0x3d, 0x9b, 0xc6, 0x70}};
inline constexpr GUID kIID_IDirect3DDxgiInterfaceAccess{
    0xa9b3d012, 0x3df2, 0x4ee3, {0xb8, 0xd1, 0x86, 0x95, 0xf4, 0x57, 0xd3, 0xc1}};
inline constexpr GUID kIID_IDispatcherQueueController{
    0x22f34e66, 0x50db, 0x4e36, {0xa9, 0x8d, 0x61, 0xc0, 0x1b, 0x38, 0x4d, 0x20}};
inline constexpr GUID kIID_IAsyncInfo{0x00000036, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_IApiInformationStatics{
    0x997439fe, 0xf681, 0x4a11, {0xb4, 0x16, 0xc1, 0x3a, 0x47, 0xe8, 0xba, 0x36}};
inline constexpr GUID kIID_IWeakReferenceSource{
    0x00000038, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_IWeakReference{
    0x00000037, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID kIID_IRestrictedErrorInfo{
    0x82ba7092, 0x4c88, 0x427d, {0xa7, 0xbc, 0x16, 0xdd, 0x93, 0xfe, 0xb6, 0x7e}};
// TypedEventHandler<Direct3D11CaptureFramePool, Object> and TypedEventHandler<GraphicsCaptureItem, Object>:
// derived from their type signatures (kFrameArrivedHandlerSignature, kClosedHandlerSignature) by SHA-1.
inline constexpr GUID kIID_FrameArrivedHandler{
    0x51a947f7, 0x79cf, 0x5a3e, {0xa3, 0xa5, 0x12, 0x89, 0xcf, 0xa6, 0xdf, 0xe8}};
inline constexpr GUID kIID_ClosedHandler{
    0xe9c610c0, 0xa68c, 0x5bd9, {0x80, 0x21, 0x85, 0x89, 0x34, 0x6e, 0xee, 0xe2}};

inline constexpr char kFrameArrivedHandlerSignature[] =
    "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};rc(Windows.Graphics.Capture.Direct3D11CaptureFramePool;"
    "{24eb6d22-1975-422e-82e7-780dbd8ddf24});cinterface(IInspectable))";
inline constexpr char kClosedHandlerSignature[] =
    "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};rc(Windows.Graphics.Capture.GraphicsCaptureItem;"
    "{79c3f95b-31f7-4ec2-a464-632ef5d30760});cinterface(IInspectable))";

inline constexpr char kAccessOperationSignature[] =
    "pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};"
    "enum(Windows.Security.Authorization.AppCapabilityAccess.AppCapabilityAccessStatus;i4))";

// Activation names of the runtime classes whose factories the layer asks for.
inline constexpr wchar_t kGraphicsCaptureItemClass[] = L"Windows.Graphics.Capture.GraphicsCaptureItem";
inline constexpr wchar_t kFramePoolClass[] = L"Windows.Graphics.Capture.Direct3D11CaptureFramePool";
inline constexpr wchar_t kCaptureSessionClass[] = L"Windows.Graphics.Capture.GraphicsCaptureSession";
inline constexpr wchar_t kCaptureAccessClass[] = L"Windows.Graphics.Capture.GraphicsCaptureAccess";
inline constexpr wchar_t kApiInformationClass[] = L"Windows.Foundation.Metadata.ApiInformation";

// Value types, laid out as the ABI passes them.
struct SizeInt32 {
    int32_t Width;
    int32_t Height;
};

struct TimeSpan {
    int64_t Duration;  // 100 ns units
};

struct DispatcherQueueOptions {
    uint32_t dwSize;
    int32_t threadType;
    int32_t apartmentType;
};

}  // namespace corvo_wgc_abi
