#include "diff/diff_detector.h"

#include <algorithm>
#include <utility>

#include "diff/extract_rects.h"
#include "diff/kernels/kernel_bytecode.h"

namespace corvo {
namespace {

constexpr uint32_t kCellSize = 32;
constexpr uint32_t kClearGroup = 16;      // threads per group of the clear kernel
constexpr uint32_t kGroupCells = 16;      // cells per group side of the cell kernel
constexpr uint32_t kPackGroup = 16;       // words and rows per group side of the pack kernel
constexpr uint32_t kMinRowWords = 4;

uint32_t ceil_div(uint32_t value, uint32_t divisor) { return value / divisor + (value % divisor != 0); }

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

bool DiffDetector::size_changed(uint32_t width, uint32_t height) const noexcept {
    return width != stored_width || height != stored_height;
}

bool DiffDetector::resize(const D3D11_TEXTURE2D_DESC &desc) noexcept {
    stored_width = desc.Width;
    stored_height = desc.Height;
    cell_rows = ceil_div(desc.Height, kCellSize);
    if (device && create_sized_resources(desc)) return true;
    // A half-made set would be used against frames of the wrong size; drop it and try again next frame.
    release_sized_resources();
    stored_width = stored_height = cell_rows = result_words = row_words = 0;
    return false;
}

bool DiffDetector::create_sized_resources(const D3D11_TEXTURE2D_DESC &frame) noexcept {
    const uint32_t w = frame.Width, h = frame.Height;
    const uint32_t cell_columns = ceil_div(w, kCellSize);
    const uint32_t tex_step = ceil_div(cell_columns, 32);
    row_words = std::max(kMinRowWords, tex_step);

    D3D11_TEXTURE2D_DESC copy_desc{};
    copy_desc.Width = w;
    copy_desc.Height = h;
    copy_desc.MipLevels = frame.MipLevels;
    copy_desc.ArraySize = frame.ArraySize;
    copy_desc.Format = frame.Format;
    copy_desc.SampleDesc = frame.SampleDesc;
    copy_desc.Usage = D3D11_USAGE_DEFAULT;
    copy_desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    copy_desc.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
    if (FAILED(device->CreateTexture2D(&copy_desc, nullptr, previous_frame.put()))) return false;
    if (FAILED(device->CreateTexture2D(&copy_desc, nullptr, current_frame.put()))) return false;

    D3D11_SHADER_RESOURCE_VIEW_DESC srv{};
    srv.Format = frame.Format;
    srv.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    srv.Texture2D.MostDetailedMip = 0;
    srv.Texture2D.MipLevels = 1;
    if (FAILED(device->CreateShaderResourceView(previous_frame.get(), &srv, previous_srv.put()))) return false;
    if (FAILED(device->CreateShaderResourceView(current_frame.get(), &srv, current_srv.put()))) return false;

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
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(result_readback.get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    result_words = mapped.RowPitch / 4;
    context->Unmap(result_readback.get(), 0);

    return SUCCEEDED(create_constants(device.get(), {row_words, cell_rows, cell_columns, tex_step}, pack_info.put()));
}

void DiffDetector::release_sized_resources() noexcept {
    cell_uav.reset();
    cell_texture.reset();
    cell_info.reset();
    pack_info.reset();
    current_srv.reset();
    current_frame.reset();
    previous_srv.reset();
    previous_frame.reset();
    result_uav.reset();
    result_readback.reset();
    result_buffer.reset();
}

bool DiffDetector::detect(ID3D11Texture2D *frame, std::vector<DirtyRect> *rects_out, float *ratio_out) noexcept {
    if (!frame || !rects_out || !ratio_out || !context || !cells_kernel || !pack_kernel || !clear_kernel ||
        !result_buffer || !result_readback || !result_uav || !previous_frame || !previous_srv || !current_frame ||
        !current_srv || !pack_info || !cell_info || !cell_texture || !cell_uav)
        return false;

    context->CopyResource(current_frame.get(), frame);
    run_kernels();

    D3D11_TEXTURE2D_DESC desc;
    frame->GetDesc(&desc);
    // Without the mask nothing is known about the frame: the caller treats it as wholly new.
    uint32_t changed_area = 0;
    if (!extract(desc.Width, desc.Height, &changed_area)) return false;
    *ratio_out = update_ratio_of(changed_area, desc.Width, desc.Height);
    std::swap(rects, *rects_out);
    return true;
}

void DiffDetector::run_kernels() noexcept {
    ID3D11Buffer *constants = nullptr;
    ID3D11ShaderResourceView *views[2] = {nullptr, nullptr};
    ID3D11UnorderedAccessView *uav = nullptr;

    context->CSSetShader(clear_kernel.get(), nullptr, 0);
    uav = result_uav.get();
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    context->Dispatch(ceil_div(result_words, kClearGroup), 1, 1);

    context->CSSetShader(cells_kernel.get(), nullptr, 0);
    constants = cell_info.get();
    context->CSSetConstantBuffers(0, 1, &constants);
    views[0] = current_srv.get();
    context->CSSetShaderResources(0, 1, &views[0]);
    views[1] = previous_srv.get();
    context->CSSetShaderResources(1, 1, &views[1]);
    uav = cell_uav.get();
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    context->Dispatch(ceil_div(stored_width, kCellSize * kGroupCells), ceil_div(stored_height, kCellSize * kGroupCells),
                      1);

    context->CSSetShader(pack_kernel.get(), nullptr, 0);
    constants = pack_info.get();
    context->CSSetConstantBuffers(0, 1, &constants);
    uav = cell_uav.get();
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    uav = result_uav.get();
    context->CSSetUnorderedAccessViews(1, 1, &uav, nullptr);
    context->Dispatch(ceil_div(row_words, kPackGroup), ceil_div(cell_rows, kPackGroup), 1);

    context->CSSetShader(nullptr, nullptr, 0);
    views[0] = views[1] = nullptr;
    context->CSSetShaderResources(0, 2, views);
    uav = nullptr;
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
}

bool DiffDetector::extract(uint32_t width, uint32_t height, uint32_t *changed_area) noexcept {
    context->CopyResource(result_readback.get(), result_buffer.get());
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (FAILED(context->Map(result_readback.get(), 0, D3D11_MAP_READ, 0, &mapped))) return false;
    if (mapped.pData) {
        const uint32_t rows = mapped.DepthPitch / (4 * row_words);
        *changed_area =
            extract_rects(static_cast<const uint32_t *>(mapped.pData), rows, row_words, width, height, rects);
    }
    context->Unmap(result_readback.get(), 0);
    return mapped.pData != nullptr;
}

void DiffDetector::store_previous(ID3D11Texture2D *frame) noexcept {
    if (frame && context && previous_frame) context->CopyResource(previous_frame.get(), frame);
}

void DiffDetector::shutdown() noexcept {
    stored_width = stored_height = cell_rows = result_words = row_words = 0;
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
