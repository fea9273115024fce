// The subset of DXGI and Direct3D 11 that the emulated platform implements in software, declared with the
// names, members and values of the Windows SDK. Only the methods in use are declared; every object keeps the
// COM layout for slots 0 to 2 (QueryInterface, AddRef, Release).
#pragma once

#include <type_traits>

#include "corvo_emu_win32.h"

typedef IID const &REFIID;

namespace corvo_emu {
template <class T>
struct uuid;  // specialised once per interface below
template <class T>
void **ppv(T **pp) {
    return reinterpret_cast<void **>(pp);
}
}  // namespace corvo_emu

#define CORVO_EMU_IID(type, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7)           \
    struct type;                                                                  \
    template <>                                                                   \
    struct corvo_emu::uuid<type> {                                                \
        static constexpr IID value{d1, d2, d3, {b0, b1, b2, b3, b4, b5, b6, b7}}; \
    };

#define __uuidof(T) (::corvo_emu::uuid<std::remove_cv_t<std::remove_reference_t<T>>>::value)
#define IID_PPV_ARGS(pp) __uuidof(decltype(**(pp))), ::corvo_emu::ppv(pp)

inline bool operator==(const GUID &a, const GUID &b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

CORVO_EMU_IID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
CORVO_EMU_IID(IDXGIObject, 0xaec22fb8, 0x76f3, 0x4639, 0x9b, 0xe0, 0x28, 0xeb, 0x43, 0xa6, 0x7a, 0x2e)
CORVO_EMU_IID(IDXGIFactory, 0x7b7166ec, 0x21c7, 0x44ae, 0xb2, 0x1a, 0xc9, 0xae, 0x32, 0x1a, 0xe3, 0x69)
CORVO_EMU_IID(IDXGIFactory1, 0x770aae78, 0xf26f, 0x4dba, 0xa8, 0x29, 0x25, 0x3c, 0x83, 0xd1, 0xb3, 0x87)
CORVO_EMU_IID(IDXGIAdapter, 0x2411e7e1, 0x12ac, 0x4ccf, 0xbd, 0x14, 0x97, 0x98, 0xe8, 0x53, 0x4d, 0xc0)
CORVO_EMU_IID(IDXGIAdapter1, 0x29038f61, 0x3839, 0x4626, 0x91, 0xfd, 0x08, 0x68, 0x79, 0x01, 0x1a, 0x05)
// IDXGIOutput (dxgi.h) and IDXGIOutput6 (dxgi1_6.h) as the SDK headers of mingw-w64 declare them; check them
// against the Windows SDK's headers before relying on them elsewhere.
CORVO_EMU_IID(IDXGIOutput, 0xae02eedb, 0xc735, 0x4690, 0x8d, 0x52, 0x5a, 0x8d, 0xc2, 0x02, 0x13, 0xaa)
CORVO_EMU_IID(IDXGIOutput6, 0x068346e8, 0xaaec, 0x4b84, 0xad, 0xd7, 0x13, 0x7f, 0x51, 0x3f, 0x77, 0xa1)
CORVO_EMU_IID(IDXGIDevice, 0x54ec77fa, 0x1377, 0x44e6, 0x8c, 0x32, 0x88, 0xfd, 0x5f, 0x44, 0xc8, 0x4c)
CORVO_EMU_IID(ID3D11Device, 0xdb6f6ddb, 0xac77, 0x4e88, 0x82, 0x53, 0x81, 0x9d, 0xf9, 0xbb, 0xf1, 0x40)
CORVO_EMU_IID(ID3D11DeviceChild, 0x1841e5c8, 0x16b0, 0x489b, 0xbc, 0xc8, 0x44, 0xcf, 0xb0, 0xd5, 0xde, 0xae)
CORVO_EMU_IID(ID3D11DeviceContext, 0xc0bfa96c, 0xe089, 0x44fb, 0x8e, 0xaf, 0x26, 0xf8, 0x79, 0x61, 0x90, 0xda)
CORVO_EMU_IID(ID3D11Resource, 0xdc8e63f3, 0xd12b, 0x4952, 0xb4, 0x7b, 0x5e, 0x45, 0x02, 0x6a, 0x86, 0x2d)
CORVO_EMU_IID(ID3D11Texture2D, 0x6f15aaf2, 0xd208, 0x4e89, 0x9a, 0xb4, 0x48, 0x95, 0x35, 0xd3, 0x4f, 0x9c)
CORVO_EMU_IID(ID3D11Buffer, 0x48570b85, 0xd1ee, 0x4fcd, 0xa2, 0x50, 0xeb, 0x35, 0x07, 0x22, 0xb0, 0x37)
CORVO_EMU_IID(ID3D11View, 0x839d1216, 0xbb2e, 0x412b, 0xb7, 0xf4, 0xa9, 0xdb, 0xeb, 0xe0, 0x8e, 0xd1)
CORVO_EMU_IID(ID3D11ShaderResourceView, 0xb0e06fe0, 0x8192, 0x4e1a, 0xb1, 0xca, 0x36, 0xd7, 0x41, 0x47, 0x10, 0xb2)
CORVO_EMU_IID(ID3D11UnorderedAccessView, 0x28acf509, 0x7f5c, 0x48f6, 0x86, 0x11, 0xf3, 0x16, 0x01, 0x0a, 0x63, 0x80)
CORVO_EMU_IID(ID3D11ComputeShader, 0x4f5b196e, 0xc2bd, 0x495e, 0xbd, 0x01, 0x1f, 0xde, 0xd3, 0x8e, 0x49, 0x69)

struct ID3D11ClassLinkage;
struct ID3D11ClassInstance;

enum DXGI_FORMAT : UINT {
    DXGI_FORMAT_UNKNOWN = 0,
    DXGI_FORMAT_R32G32B32A32_FLOAT = 2,
    DXGI_FORMAT_R16G16B16A16_FLOAT = 10,
    DXGI_FORMAT_R8G8B8A8_UNORM = 28,
    DXGI_FORMAT_R32_UINT = 42,
    DXGI_FORMAT_R8_UINT = 62,
    DXGI_FORMAT_B8G8R8A8_UNORM = 87,
};

enum DXGI_MODE_ROTATION : UINT {
    DXGI_MODE_ROTATION_UNSPECIFIED = 0,
    DXGI_MODE_ROTATION_IDENTITY = 1,
};

enum DXGI_COLOR_SPACE_TYPE : UINT {
    DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709 = 0,
    DXGI_COLOR_SPACE_RGB_FULL_G10_NONE_P709 = 1,
    DXGI_COLOR_SPACE_RGB_FULL_G2084_NONE_P2020 = 12,
};

enum D3D_DRIVER_TYPE : UINT {
    D3D_DRIVER_TYPE_UNKNOWN = 0,
    D3D_DRIVER_TYPE_HARDWARE = 1,
};

enum D3D_FEATURE_LEVEL : UINT {
    D3D_FEATURE_LEVEL_10_0 = 0xa000,
    D3D_FEATURE_LEVEL_10_1 = 0xa100,
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
};

enum D3D11_USAGE : UINT {
    D3D11_USAGE_DEFAULT = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC = 2,
    D3D11_USAGE_STAGING = 3,
};

enum D3D11_BIND_FLAG : UINT {
    D3D11_BIND_VERTEX_BUFFER = 0x1,
    D3D11_BIND_INDEX_BUFFER = 0x2,
    D3D11_BIND_CONSTANT_BUFFER = 0x4,
    D3D11_BIND_SHADER_RESOURCE = 0x8,
    D3D11_BIND_STREAM_OUTPUT = 0x10,
    D3D11_BIND_RENDER_TARGET = 0x20,
    D3D11_BIND_DEPTH_STENCIL = 0x40,
    D3D11_BIND_UNORDERED_ACCESS = 0x80,
};

enum D3D11_CPU_ACCESS_FLAG : UINT {
    D3D11_CPU_ACCESS_WRITE = 0x10000,
    D3D11_CPU_ACCESS_READ = 0x20000,
};

enum D3D11_RESOURCE_MISC_FLAG : UINT {
    D3D11_RESOURCE_MISC_GENERATE_MIPS = 0x1,
    D3D11_RESOURCE_MISC_BUFFER_ALLOW_RAW_VIEWS = 0x20,
    D3D11_RESOURCE_MISC_BUFFER_STRUCTURED = 0x40,
};

enum D3D11_MAP : UINT {
    D3D11_MAP_READ = 1,
    D3D11_MAP_WRITE = 2,
    D3D11_MAP_READ_WRITE = 3,
    D3D11_MAP_WRITE_DISCARD = 4,
    D3D11_MAP_WRITE_NO_OVERWRITE = 5,
};

enum D3D11_RESOURCE_DIMENSION : UINT {
    D3D11_RESOURCE_DIMENSION_UNKNOWN = 0,
    D3D11_RESOURCE_DIMENSION_BUFFER = 1,
    D3D11_RESOURCE_DIMENSION_TEXTURE1D = 2,
    D3D11_RESOURCE_DIMENSION_TEXTURE2D = 3,
};

enum D3D11_SRV_DIMENSION : UINT {
    D3D11_SRV_DIMENSION_UNKNOWN = 0,
    D3D11_SRV_DIMENSION_BUFFER = 1,
    D3D11_SRV_DIMENSION_TEXTURE2D = 4,
};

enum D3D11_UAV_DIMENSION : UINT {
    D3D11_UAV_DIMENSION_UNKNOWN = 0,
    D3D11_UAV_DIMENSION_BUFFER = 1,
    D3D11_UAV_DIMENSION_TEXTURE2D = 4,
};

enum D3D11_FEATURE : UINT {
    D3D11_FEATURE_FORMAT_SUPPORT = 2,
    D3D11_FEATURE_FORMAT_SUPPORT2 = 3,
};

enum D3D11_FORMAT_SUPPORT : UINT {
    D3D11_FORMAT_SUPPORT_TEXTURE2D = 0x20,
    D3D11_FORMAT_SUPPORT_SHADER_LOAD = 0x100,
    D3D11_FORMAT_SUPPORT_RENDER_TARGET = 0x4000,
    D3D11_FORMAT_SUPPORT_CPU_LOCKABLE = 0x20000,
    D3D11_FORMAT_SUPPORT_TYPED_UNORDERED_ACCESS_VIEW = 0x2000000,
};

enum D3D11_FORMAT_SUPPORT2 : UINT {
    D3D11_FORMAT_SUPPORT2_UAV_TYPED_LOAD = 0x40,
    D3D11_FORMAT_SUPPORT2_UAV_TYPED_STORE = 0x80,
};

#define D3D11_CREATE_DEVICE_BGRA_SUPPORT 0x20u
#define D3D11_SDK_VERSION 7u

#define DXGI_ERROR_INVALID_CALL ((HRESULT)0x887A0001)
#define DXGI_ERROR_NOT_FOUND ((HRESULT)0x887A0002)
#define DXGI_ERROR_UNSUPPORTED ((HRESULT)0x887A0004)
#define DXGI_ERROR_DEVICE_REMOVED ((HRESULT)0x887A0005)
#define DXGI_ERROR_DEVICE_HUNG ((HRESULT)0x887A0006)
#define DXGI_ERROR_DEVICE_RESET ((HRESULT)0x887A0007)
#define DXGI_ERROR_DRIVER_INTERNAL_ERROR ((HRESULT)0x887A0020)

struct DXGI_SAMPLE_DESC {
    UINT Count;
    UINT Quality;
};

struct DXGI_ADAPTER_DESC1 {
    WCHAR Description[128];
    UINT VendorId;
    UINT DeviceId;
    UINT SubSysId;
    UINT Revision;
    SIZE_T DedicatedVideoMemory;
    SIZE_T DedicatedSystemMemory;
    SIZE_T SharedSystemMemory;
    LUID AdapterLuid;
    UINT Flags;
};

struct DXGI_OUTPUT_DESC {
    WCHAR DeviceName[32];
    RECT DesktopCoordinates;
    BOOL AttachedToDesktop;
    DXGI_MODE_ROTATION Rotation;
    HMONITOR Monitor;
};

struct DXGI_OUTPUT_DESC1 {
    WCHAR DeviceName[32];
    RECT DesktopCoordinates;
    BOOL AttachedToDesktop;
    DXGI_MODE_ROTATION Rotation;
    HMONITOR Monitor;
    UINT BitsPerColor;
    DXGI_COLOR_SPACE_TYPE ColorSpace;
    FLOAT RedPrimary[2];
    FLOAT GreenPrimary[2];
    FLOAT BluePrimary[2];
    FLOAT WhitePoint[2];
    FLOAT MinLuminance;
    FLOAT MaxLuminance;
    FLOAT MaxFullFrameLuminance;
};

struct D3D11_TEXTURE2D_DESC {
    UINT Width;
    UINT Height;
    UINT MipLevels;
    UINT ArraySize;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
};

struct D3D11_BUFFER_DESC {
    UINT ByteWidth;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
    UINT StructureByteStride;
};

struct D3D11_SUBRESOURCE_DATA {
    const void *pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

// A region of a subresource: left, top and front inclusive, right, bottom and back exclusive.
struct D3D11_BOX {
    UINT left;
    UINT top;
    UINT front;
    UINT right;
    UINT bottom;
    UINT back;
};

struct D3D11_MAPPED_SUBRESOURCE {
    void *pData;
    UINT RowPitch;
    UINT DepthPitch;
};

struct D3D11_FEATURE_DATA_FORMAT_SUPPORT {
    DXGI_FORMAT InFormat;
    UINT OutFormatSupport;
};

struct D3D11_FEATURE_DATA_FORMAT_SUPPORT2 {
    DXGI_FORMAT InFormat;
    UINT OutFormatSupport2;
};

struct D3D11_BUFFER_SRV {
    union {
        UINT FirstElement;
        UINT ElementOffset;
    };
    union {
        UINT NumElements;
        UINT ElementWidth;
    };
};

struct D3D11_TEX2D_SRV {
    UINT MostDetailedMip;
    UINT MipLevels;
};

struct D3D11_SHADER_RESOURCE_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_SRV_DIMENSION ViewDimension;
    union {
        D3D11_BUFFER_SRV Buffer;
        D3D11_TEX2D_SRV Texture2D;
    };
};

struct D3D11_BUFFER_UAV {
    UINT FirstElement;
    UINT NumElements;
    UINT Flags;
};

struct D3D11_TEX2D_UAV {
    UINT MipSlice;
};

struct D3D11_UNORDERED_ACCESS_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_UAV_DIMENSION ViewDimension;
    union {
        D3D11_BUFFER_UAV Buffer;
        D3D11_TEX2D_UAV Texture2D;
    };
};

struct IDXGIObject : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetParent(REFIID riid, void **parent) = 0;

protected:
    ~IDXGIObject() = default;
};

struct IDXGIOutput : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetDesc(DXGI_OUTPUT_DESC *desc) = 0;

protected:
    ~IDXGIOutput() = default;
};

// On Windows it derives from IDXGIOutput5 and the versions before; of those only IDXGIOutput is declared.
struct IDXGIOutput6 : IDXGIOutput {
    virtual HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_OUTPUT_DESC1 *desc) = 0;

protected:
    ~IDXGIOutput6() = default;
};

struct IDXGIAdapter : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE EnumOutputs(UINT index, IDXGIOutput **output) = 0;

protected:
    ~IDXGIAdapter() = default;
};

struct IDXGIAdapter1 : IDXGIAdapter {
    virtual HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1 *desc) = 0;

protected:
    ~IDXGIAdapter1() = default;
};

struct IDXGIFactory : IDXGIObject {
protected:
    ~IDXGIFactory() = default;
};

struct IDXGIFactory1 : IDXGIFactory {
    virtual HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1 **adapter) = 0;
    virtual BOOL STDMETHODCALLTYPE IsCurrent() = 0;

protected:
    ~IDXGIFactory1() = default;
};

struct IDXGIDevice : IDXGIObject {
    virtual HRESULT STDMETHODCALLTYPE GetAdapter(IDXGIAdapter **adapter) = 0;

protected:
    ~IDXGIDevice() = default;
};

struct ID3D11Device;

struct ID3D11DeviceChild : IUnknown {
    virtual void STDMETHODCALLTYPE GetDevice(ID3D11Device **device) = 0;

protected:
    ~ID3D11DeviceChild() = default;
};

struct ID3D11Resource : ID3D11DeviceChild {
    virtual void STDMETHODCALLTYPE GetType(D3D11_RESOURCE_DIMENSION *dimension) = 0;

protected:
    ~ID3D11Resource() = default;
};

struct ID3D11Texture2D : ID3D11Resource {
    virtual void STDMETHODCALLTYPE GetDesc(D3D11_TEXTURE2D_DESC *desc) = 0;

protected:
    ~ID3D11Texture2D() = default;
};

struct ID3D11Buffer : ID3D11Resource {
    virtual void STDMETHODCALLTYPE GetDesc(D3D11_BUFFER_DESC *desc) = 0;

protected:
    ~ID3D11Buffer() = default;
};

struct ID3D11View : ID3D11DeviceChild {
    virtual void STDMETHODCALLTYPE GetResource(ID3D11Resource **resource) = 0;

protected:
    ~ID3D11View() = default;
};

struct ID3D11ShaderResourceView : ID3D11View {
    virtual void STDMETHODCALLTYPE GetDesc(D3D11_SHADER_RESOURCE_VIEW_DESC *desc) = 0;

protected:
    ~ID3D11ShaderResourceView() = default;
};

struct ID3D11UnorderedAccessView : ID3D11View {
    virtual void STDMETHODCALLTYPE GetDesc(D3D11_UNORDERED_ACCESS_VIEW_DESC *desc) = 0;

protected:
    ~ID3D11UnorderedAccessView() = default;
};

struct ID3D11ComputeShader : ID3D11DeviceChild {
protected:
    ~ID3D11ComputeShader() = default;
};

struct ID3D11DeviceContext : ID3D11DeviceChild {
    virtual void STDMETHODCALLTYPE CSSetShader(ID3D11ComputeShader *shader, ID3D11ClassInstance *const *instances,
                                               UINT instance_count) = 0;
    virtual void STDMETHODCALLTYPE CSSetConstantBuffers(UINT start_slot, UINT count,
                                                        ID3D11Buffer *const *buffers) = 0;
    virtual void STDMETHODCALLTYPE CSGetConstantBuffers(UINT start_slot, UINT count, ID3D11Buffer **buffers) = 0;
    virtual void STDMETHODCALLTYPE CSSetShaderResources(UINT start_slot, UINT count,
                                                        ID3D11ShaderResourceView *const *views) = 0;
    virtual void STDMETHODCALLTYPE CSSetUnorderedAccessViews(
        UINT start_slot, UINT count, ID3D11UnorderedAccessView *const *views, const UINT *initial_counts) = 0;
    virtual void STDMETHODCALLTYPE Dispatch(UINT x, UINT y, UINT z) = 0;
    virtual void STDMETHODCALLTYPE CopyResource(ID3D11Resource *destination, ID3D11Resource *source) = 0;
    virtual void STDMETHODCALLTYPE CopySubresourceRegion(ID3D11Resource *destination, UINT destination_subresource,
                                                         UINT x, UINT y, UINT z, ID3D11Resource *source,
                                                         UINT source_subresource, const D3D11_BOX *box) = 0;
    virtual HRESULT STDMETHODCALLTYPE Map(ID3D11Resource *resource, UINT subresource, D3D11_MAP type, UINT flags,
                                          D3D11_MAPPED_SUBRESOURCE *mapped) = 0;
    virtual void STDMETHODCALLTYPE Unmap(ID3D11Resource *resource, UINT subresource) = 0;
    virtual void STDMETHODCALLTYPE ClearState() = 0;
    virtual void STDMETHODCALLTYPE Flush() = 0;

protected:
    ~ID3D11DeviceContext() = default;
};

struct ID3D11Device : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC *desc,
                                                   const D3D11_SUBRESOURCE_DATA *initial, ID3D11Buffer **buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTexture2D(
        const D3D11_TEXTURE2D_DESC *desc, const D3D11_SUBRESOURCE_DATA *initial, ID3D11Texture2D **texture) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateShaderResourceView(
        ID3D11Resource *resource, const D3D11_SHADER_RESOURCE_VIEW_DESC *desc, ID3D11ShaderResourceView **view) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUnorderedAccessView(ID3D11Resource *resource,
                                                                const D3D11_UNORDERED_ACCESS_VIEW_DESC *desc,
                                                                ID3D11UnorderedAccessView **view) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateComputeShader(
        const void *bytecode, SIZE_T length, ID3D11ClassLinkage *linkage, ID3D11ComputeShader **shader) = 0;
    virtual void STDMETHODCALLTYPE GetImmediateContext(ID3D11DeviceContext **context) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() = 0;
    virtual D3D_FEATURE_LEVEL STDMETHODCALLTYPE GetFeatureLevel() = 0;
    virtual UINT STDMETHODCALLTYPE GetCreationFlags() = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckFormatSupport(DXGI_FORMAT format, UINT *support) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckFeatureSupport(D3D11_FEATURE feature, void *data, UINT size) = 0;

protected:
    ~ID3D11Device() = default;
};

extern "C" {
HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void **factory);
HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter *adapter, D3D_DRIVER_TYPE driver_type, HMODULE software, UINT flags,
                                 const D3D_FEATURE_LEVEL *feature_levels, UINT feature_level_count, UINT sdk_version,
                                 ID3D11Device **device, D3D_FEATURE_LEVEL *feature_level,
                                 ID3D11DeviceContext **context);
}
