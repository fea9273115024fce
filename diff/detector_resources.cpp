// The detector's objects: the kernels, made once per device, and the resources sized for one picture size.
#include <algorithm>
#include <cstddef>
#include <utility>

#include "diff/diff_detector.h"
#include "diff/gpu_access.h"
#include "diff/kernels/kernel_bytecode.h"
#include "diff/kernel_grid.h"

namespace corvo {
namespace {

template <size_t N>
HRESULT create_constants(ID3D11Device *device, const uint32_t (&values)[N], ID3D11Buffer **buffer) {
    D3D11_BUFFER_DESC desc{};
    desc.ByteWidth = sizeof(values);
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    D3D11_SUBRESOURCE_DATA data{values, 0, 0};
    return device->CreateBuffer(&desc, &data, buffer);
}

// The kernels read frames through views of mip 0 of a one-level texture.
D3D11_SHADER_RESOURCE_VIEW_DESC frame_view_desc(DXGI_FORMAT format) {
    D3D11_SHADER_RESOURCE_VIEW_DESC srv{};
    srv.Format = format;
    srv.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    srv.Texture2D.MostDetailedMip = 0;
    srv.Texture2D.MipLevels = 1;
    return srv;
}

bool same_size(ID3D11Texture2D *texture, const D3D11_TEXTURE2D_DESC &desc) {
    D3D11_TEXTURE2D_DESC known;
    texture->GetDesc(&known);
    return known.Width == desc.Width && known.Height == desc.Height;
}

}  // namespace

bool DiffDetector::init(ComPtr<ID3D11Device> new_device, ComPtr<ID3D11DeviceContext> new_context) noexcept {
    if (!new_device || !new_context) return false;
    device_ = std::move(new_device);
    context_ = std::move(new_context);
    if (FAILED(device_->CreateComputeShader(kernels::kDiffCellsCS, kernels::kDiffCellsCSSize, nullptr,
                                            cells_kernel_.put())))
        return false;
    if (FAILED(device_->CreateComputeShader(kernels::kClearDiffBuffCS, kernels::kClearDiffBuffCSSize, nullptr,
                                            clear_kernel_.put())))
        return false;
    if (FAILED(device_->CreateComputeShader(kernels::kPackDiffBitsCS, kernels::kPackDiffBitsCSSize, nullptr,
                                            pack_kernel_.put())))
        return false;
    if (FAILED(device_->CreateComputeShader(kernels::kDiffBitsCS, kernels::kDiffBitsCSSize, nullptr,
                                            bits_kernel_.put())))
        bits_kernel_.reset();
    return true;
}

bool DiffDetector::resize(const D3D11_TEXTURE2D_DESC &frame, uint32_t width, uint32_t height) noexcept {
    release_sized_resources();
    has_accepted_ = false;
    D3D11_TEXTURE2D_DESC picture = frame;
    picture.Width = width;
    picture.Height = height;
    stored_width_ = width;
    stored_height_ = height;
    cell_rows_ = ceil_div(height, kCellSize);
    if (create_sized_resources(picture)) return true;
    // A half-made set would be used against pictures of the wrong size; drop it and try again next picture.
    release_sized_resources();
    return false;
}

bool DiffDetector::create_sized_resources(const D3D11_TEXTURE2D_DESC &frame) noexcept {
    const uint32_t w = frame.Width, h = frame.Height;
    const uint32_t cell_columns = ceil_div(w, kCellSize);
    const uint32_t tex_step = ceil_div(cell_columns, 32);
    row_words_ = std::max(kMinRowWords, tex_step);

    // The picture textures are made when first needed: comparing frames in place needs only one.
    picture_desc_ = picture_desc(w, h, frame, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE);

    // One 32-bit texel per cell: every feature-level-11 device can load R32_UINT through an unordered view.
    D3D11_TEXTURE2D_DESC cells{};
    cells.Width = cell_columns;
    cells.Height = cell_rows_;
    cells.MipLevels = 1;
    cells.ArraySize = 1;
    cells.Format = DXGI_FORMAT_R32_UINT;
    cells.SampleDesc.Count = 1;
    cells.Usage = D3D11_USAGE_DEFAULT;
    cells.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    if (FAILED(device_->CreateTexture2D(&cells, nullptr, cell_texture_.put()))) return false;
    D3D11_UNORDERED_ACCESS_VIEW_DESC cell_view{};
    cell_view.Format = DXGI_FORMAT_R32_UINT;
    cell_view.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
    if (FAILED(device_->CreateUnorderedAccessView(cell_texture_.get(), &cell_view, cell_uav_.put()))) return false;

    // The new picture's origin in its texture follows the size: 0, 0 until set_origin moves it.
    if (FAILED(create_constants(device_.get(), {w, h, kCellSize, kCellSize, 0u, 0u, 0u, 0u}, cell_info_.put())))
        return false;
    cell_origin_[0] = cell_origin_[1] = 0;

    D3D11_BUFFER_DESC result{};
    result.ByteWidth = 4 * row_words_ * cell_rows_;
    result.Usage = D3D11_USAGE_DEFAULT;
    result.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    result.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    result.StructureByteStride = 4;
    if (FAILED(device_->CreateBuffer(&result, nullptr, result_buffer_.put()))) return false;
    D3D11_BUFFER_DESC readback = result;
    readback.Usage = D3D11_USAGE_STAGING;
    readback.BindFlags = 0;
    readback.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    readback.MiscFlags = 0;
    if (FAILED(device_->CreateBuffer(&readback, nullptr, result_readback_.put()))) return false;
    D3D11_UNORDERED_ACCESS_VIEW_DESC result_view{};
    result_view.Format = DXGI_FORMAT_UNKNOWN;
    result_view.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    result_view.Buffer.FirstElement = 0;
    result_view.Buffer.NumElements = result.ByteWidth / result.StructureByteStride;
    if (FAILED(device_->CreateUnorderedAccessView(result_buffer_.get(), &result_view, result_uav_.put())))
        return false;
    result_words_ = result.ByteWidth / 4;

    return SUCCEEDED(
        create_constants(device_.get(), {row_words_, cell_rows_, cell_columns, tex_step}, pack_info_.put()));
}

bool DiffDetector::set_origin(uint32_t left, uint32_t top) noexcept {
    if (left == cell_origin_[0] && top == cell_origin_[1]) return true;
    const uint32_t values[8] = {stored_width_, stored_height_, kCellSize, kCellSize, left, top, 0, 0};
    if (!write_buffer(context_.get(), cell_info_.get(), values, sizeof values)) return false;
    cell_origin_[0] = left;
    cell_origin_[1] = top;
    return true;
}

bool DiffDetector::ensure_picture(int index) noexcept {
    if (pictures_[index]) return true;
    const D3D11_SHADER_RESOURCE_VIEW_DESC srv = frame_view_desc(picture_desc_.Format);
    if (SUCCEEDED(device_->CreateTexture2D(&picture_desc_, nullptr, pictures_[index].put())) &&
        SUCCEEDED(device_->CreateShaderResourceView(pictures_[index].get(), &srv, picture_views_[index].put())))
        return true;
    picture_views_[index].reset();
    pictures_[index].reset();
    return false;
}

ID3D11ShaderResourceView *DiffDetector::view_frame(ID3D11Texture2D *frame,
                                                   const D3D11_TEXTURE2D_DESC &desc) noexcept {
    // A view of a texture without the bind flag is an error to the runtime, not a question: read the flags.
    if (!(desc.BindFlags & D3D11_BIND_SHADER_RESOURCE) || desc.Format != picture_desc_.Format ||
        desc.ArraySize != 1 || desc.SampleDesc.Count != 1)
        return nullptr;
    for (const FrameView &known : frame_views_)
        if (known.texture.get() == frame) return known.view.get();
    // A view of another size belongs to a pool since recreated: let it go now, so that the old pool's textures
    // are freed before the next recreation makes more, not when new views push them out.
    for (FrameView &known : frame_views_)
        if (known.texture && !same_size(known.texture.get(), desc)) known = {};
    FrameView &made = frame_views_[next_view_];
    made = {};
    const D3D11_SHADER_RESOURCE_VIEW_DESC srv = frame_view_desc(desc.Format);
    if (FAILED(device_->CreateShaderResourceView(frame, &srv, made.view.put()))) {
        made.view.reset();
        return nullptr;
    }
    made.texture = ComPtr<ID3D11Texture2D>::share(frame);
    next_view_ = (next_view_ + 1) % kFrameViews;
    return made.view.get();
}

void DiffDetector::release_sized_resources() noexcept {
    result_uav_.reset();
    result_readback_.reset();
    result_buffer_.reset();
    pack_info_.reset();
    cell_uav_.reset();
    cell_texture_.reset();
    cell_info_.reset();
    frame_.reset();
    for (FrameView &known : frame_views_) known = {};
    for (int i = 1; i >= 0; --i) {
        picture_views_[i].reset();
        pictures_[i].reset();
    }
    stored_width_ = stored_height_ = cell_rows_ = result_words_ = row_words_ = 0;
    has_accepted_ = detected_ = false;
}

void DiffDetector::shutdown() noexcept {
    // The kernels unbound what they bound; the rest of the context's state may be the host's and stays.
    if (context_) context_->Flush();
    release_sized_resources();
    clear_kernel_.reset();
    pack_kernel_.reset();
    cells_kernel_.reset();
    bits_kernel_.reset();
    context_.reset();
    device_.reset();
}

}  // namespace corvo
