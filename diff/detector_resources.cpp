// The detector's objects: the kernels, made once per device, and the resources sized for one picture size.
#include <algorithm>
#include <utility>

#include "diff/diff_detector.h"
#include "diff/kernels/kernel_bytecode.h"
#include "diff/kernel_grid.h"

namespace corvo {
namespace {

HRESULT create_constants(ID3D11Device *device, const uint32_t (&values)[4], ID3D11Buffer **buffer) {
    D3D11_BUFFER_DESC desc{};
    desc.ByteWidth = sizeof(values);
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    D3D11_SUBRESOURCE_DATA data{values, 0, 0};
    return device->CreateBuffer(&desc, &data, buffer);
}

}  // namespace

bool DiffDetector::init(ComPtr<ID3D11Device> new_device, ComPtr<ID3D11DeviceContext> new_context) noexcept {
    if (!new_device || !new_context) return false;
    device = std::move(new_device);
    context = std::move(new_context);
    if (FAILED(device->CreateComputeShader(kernels::kDiffCellsCS, kernels::kDiffCellsCSSize, nullptr,
                                           cells_kernel.put())))
        return false;
    if (FAILED(device->CreateComputeShader(kernels::kClearDiffBuffCS, kernels::kClearDiffBuffCSSize, nullptr,
                                           clear_kernel.put())))
        return false;
    return SUCCEEDED(device->CreateComputeShader(kernels::kPackDiffBitsCS, kernels::kPackDiffBitsCSSize, nullptr,
                                                 pack_kernel.put()));
}

bool DiffDetector::resize(const D3D11_TEXTURE2D_DESC &frame, uint32_t width, uint32_t height) noexcept {
    release_sized_resources();
    has_accepted = false;
    D3D11_TEXTURE2D_DESC picture = frame;
    picture.Width = width;
    picture.Height = height;
    stored_width = width;
    stored_height = height;
    cell_rows = ceil_div(height, kCellSize);
    if (create_sized_resources(picture)) return true;
    // A half-made set would be used against pictures of the wrong size; drop it and try again next picture.
    release_sized_resources();
    return false;
}

bool DiffDetector::create_sized_resources(const D3D11_TEXTURE2D_DESC &frame) noexcept {
    const uint32_t w = frame.Width, h = frame.Height;
    const uint32_t cell_columns = ceil_div(w, kCellSize);
    const uint32_t tex_step = ceil_div(cell_columns, 32);
    row_words = std::max(kMinRowWords, tex_step);

    D3D11_TEXTURE2D_DESC picture_desc{};
    picture_desc.Width = w;
    picture_desc.Height = h;
    picture_desc.MipLevels = 1;
    picture_desc.ArraySize = 1;
    picture_desc.Format = frame.Format;
    picture_desc.SampleDesc = frame.SampleDesc;
    picture_desc.Usage = D3D11_USAGE_DEFAULT;
    picture_desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SHADER_RESOURCE_VIEW_DESC srv{};
    srv.Format = frame.Format;
    srv.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    srv.Texture2D.MostDetailedMip = 0;
    srv.Texture2D.MipLevels = 1;
    for (int i = 0; i < 2; ++i) {
        if (FAILED(device->CreateTexture2D(&picture_desc, nullptr, pictures[i].put()))) return false;
        if (FAILED(device->CreateShaderResourceView(pictures[i].get(), &srv, picture_views[i].put()))) return false;
    }

    // One 32-bit texel per cell: every feature-level-11 device can load R32_UINT through an unordered view.
    D3D11_TEXTURE2D_DESC cells{};
    cells.Width = cell_columns;
    cells.Height = cell_rows;
    cells.MipLevels = 1;
    cells.ArraySize = 1;
    cells.Format = DXGI_FORMAT_R32_UINT;
    cells.SampleDesc.Count = 1;
    cells.Usage = D3D11_USAGE_DEFAULT;
    cells.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    if (FAILED(device->CreateTexture2D(&cells, nullptr, cell_texture.put()))) return false;
    D3D11_UNORDERED_ACCESS_VIEW_DESC cell_view{};
    cell_view.Format = DXGI_FORMAT_R32_UINT;
    cell_view.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
    if (FAILED(device->CreateUnorderedAccessView(cell_texture.get(), &cell_view, cell_uav.put()))) return false;

    if (FAILED(create_constants(device.get(), {w, h, kCellSize, kCellSize}, cell_info.put()))) return false;

    D3D11_BUFFER_DESC result{};
    result.ByteWidth = 4 * row_words * cell_rows;
    result.Usage = D3D11_USAGE_DEFAULT;
    result.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    result.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    result.StructureByteStride = 4;
    if (FAILED(device->CreateBuffer(&result, nullptr, result_buffer.put()))) return false;
    D3D11_BUFFER_DESC readback = result;
    readback.Usage = D3D11_USAGE_STAGING;
    readback.BindFlags = 0;
    readback.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    readback.MiscFlags = 0;
    if (FAILED(device->CreateBuffer(&readback, nullptr, result_readback.put()))) return false;
    D3D11_UNORDERED_ACCESS_VIEW_DESC result_view{};
    result_view.Format = DXGI_FORMAT_UNKNOWN;
    result_view.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    result_view.Buffer.FirstElement = 0;
    result_view.Buffer.NumElements = result.ByteWidth / result.StructureByteStride;
    if (FAILED(device->CreateUnorderedAccessView(result_buffer.get(), &result_view, result_uav.put()))) return false;
    result_words = result.ByteWidth / 4;

    return SUCCEEDED(create_constants(device.get(), {row_words, cell_rows, cell_columns, tex_step}, pack_info.put()));
}

void DiffDetector::release_sized_resources() noexcept {
    result_uav.reset();
    result_readback.reset();
    result_buffer.reset();
    pack_info.reset();
    cell_uav.reset();
    cell_texture.reset();
    cell_info.reset();
    for (int i = 1; i >= 0; --i) {
        picture_views[i].reset();
        pictures[i].reset();
    }
    stored_width = stored_height = cell_rows = result_words = row_words = 0;
    has_accepted = detected = false;
}

void DiffDetector::shutdown() noexcept {
    if (context) {
        context->ClearState();
        context->Flush();
    }
    release_sized_resources();
    clear_kernel.reset();
    pack_kernel.reset();
    cells_kernel.reset();
    context.reset();
    device.reset();
}

}  // namespace corvo
