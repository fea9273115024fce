#include "diff/sdr_from_hdr.h"

#include <algorithm>
#include <new>
#include <utility>

#include "diff/dirty_rect.h"
#include "diff/gpu_access.h"
#include "diff/kernel_grid.h"
#include "diff/kernels/kernel_bytecode.h"

namespace corvo {

bool SdrFromHdr::init(ComPtr<ID3D11Device> device, ComPtr<ID3D11DeviceContext> context) noexcept {
    if (!device || !context) return false;
    device_ = std::move(device);
    context_ = std::move(context);
    // Typed stores of BGRA are optional; every Direct3D 11 device stores RGBA.
    D3D11_FEATURE_DATA_FORMAT_SUPPORT2 support{DXGI_FORMAT_B8G8R8A8_UNORM, 0};
    const bool bgra =
        SUCCEEDED(device_->CheckFeatureSupport(D3D11_FEATURE_FORMAT_SUPPORT2, &support, sizeof support)) &&
        (support.OutFormatSupport2 & D3D11_FORMAT_SUPPORT2_UAV_TYPED_STORE);
    format_ = bgra ? DXGI_FORMAT_B8G8R8A8_UNORM : DXGI_FORMAT_R8G8B8A8_UNORM;
    return SUCCEEDED(
        device_->CreateComputeShader(kernels::kSdrFromHdrCS, kernels::kSdrFromHdrCSSize, nullptr, kernel_.put()));
}

void SdrFromHdr::release_sized() noexcept {
    picture_uav_.reset();
    picture_.reset();
    cell_list_view_.reset();
    cell_list_.reset();
    width_ = height_ = 0;
}

bool SdrFromHdr::resize(uint32_t width, uint32_t height) noexcept {
    release_sized();
    D3D11_TEXTURE2D_DESC picture{};
    picture.Width = width;
    picture.Height = height;
    picture.MipLevels = 1;
    picture.ArraySize = 1;
    picture.Format = format_;
    picture.SampleDesc.Count = 1;
    picture.Usage = D3D11_USAGE_DEFAULT;
    picture.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
    D3D11_UNORDERED_ACCESS_VIEW_DESC picture_view{};
    picture_view.Format = format_;
    picture_view.ViewDimension = D3D11_UAV_DIMENSION_TEXTURE2D;
    const uint32_t cells = ceil_div(width, kCellSize) * ceil_div(height, kCellSize);
    D3D11_BUFFER_DESC list{};
    list.ByteWidth = 4 * cells;
    list.Usage = D3D11_USAGE_DYNAMIC;
    list.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    list.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    list.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    list.StructureByteStride = 4;
    D3D11_SHADER_RESOURCE_VIEW_DESC list_view{};
    list_view.Format = DXGI_FORMAT_UNKNOWN;
    list_view.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
    list_view.Buffer.FirstElement = 0;
    list_view.Buffer.NumElements = cells;
    if (FAILED(device_->CreateTexture2D(&picture, nullptr, picture_.put())) ||
        FAILED(device_->CreateUnorderedAccessView(picture_.get(), &picture_view, picture_uav_.put())) ||
        FAILED(device_->CreateBuffer(&list, nullptr, cell_list_.put())) ||
        FAILED(device_->CreateShaderResourceView(cell_list_.get(), &list_view, cell_list_view_.put()))) {
        release_sized();
        return false;
    }
    if (!constants_) {
        D3D11_BUFFER_DESC constants{};
        constants.ByteWidth = sizeof(SdrInfo);
        constants.Usage = D3D11_USAGE_DYNAMIC;
        constants.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        constants.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
        if (FAILED(device_->CreateBuffer(&constants, nullptr, constants_.put()))) {
            constants_.reset();
            return false;
        }
    }
    width_ = width;
    height_ = height;
    return true;
}

void SdrFromHdr::list_cells(const Detection &detection, bool all) noexcept {
    cells_.clear();
    const uint32_t columns = ceil_div(width_, kCellSize), rows = ceil_div(height_, kCellSize);
    if (all) {
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < columns; ++x) cells_.push_back(sdr_cell_entry(x, y));
        return;
    }
    for (const DirtyRect &rect : detection.rects)
        for (uint32_t y = rect.top / kCellSize; y < ceil_div(rect.bottom, kCellSize); ++y)
            for (uint32_t x = rect.left / kCellSize; x < ceil_div(rect.right, kCellSize); ++x)
                cells_.push_back(sdr_cell_entry(x, y));
}

ID3D11Texture2D *SdrFromHdr::convert(const PictureAt &frame, uint32_t width, uint32_t height,
                                     const Detection &detection, float sdr_white_nits) noexcept {
    if (!kernel_ || width == 0 || height == 0 || width > 0xFFFF * kCellSize || height > 0xFFFF * kCellSize)
        return nullptr;
    if ((width != width_ || height != height_) && !resize(width, height)) return nullptr;
    const bool all = whole_ || detection.change == Change::kNew || sdr_white_nits != white_;
    whole_ = true;  // until the output takes this picture
    if (!all && detection.change == Change::kUnchanged) return picture_.get();
    try {
        cells_.reserve(size_t{ceil_div(width_, kCellSize)} * ceil_div(height_, kCellSize));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    list_cells(detection, all);
    if (cells_.empty()) return picture_.get();

    // Made for this conversion only: a view keeps its frame, which belongs back in the pool.
    PictureAt origin = frame;
    const ComPtr<ID3D11ShaderResourceView> view = view_of(&origin);
    if (!view) return nullptr;

    const auto count = uint32_t(cells_.size());
    const SdrInfo info = sdr_info(width_, height_, count, sdr_white_nits, origin.left, origin.top);
    if (!write_buffer(context_.get(), cell_list_.get(), cells_.data(), 4 * cells_.size()) ||
        !write_buffer(context_.get(), constants_.get(), &info, sizeof info))
        return nullptr;
    context_->CSSetShader(kernel_.get(), nullptr, 0);
    ID3D11Buffer *constants = constants_.get();
    context_->CSSetConstantBuffers(0, 1, &constants);
    ID3D11ShaderResourceView *views[2] = {view.get(), cell_list_view_.get()};
    context_->CSSetShaderResources(0, 2, views);
    ID3D11UnorderedAccessView *uav = picture_uav_.get();
    context_->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    // One thread group a cell, in rows of groups: a dispatch has at most 65535 groups a dimension.
    context_->Dispatch(std::min(count, kSdrListRow), ceil_div(count, kSdrListRow), 1);
    // The context may be the host's: none of the converter's objects stays bound in it.
    context_->CSSetShader(nullptr, nullptr, 0);
    constants = nullptr;
    context_->CSSetConstantBuffers(0, 1, &constants);
    views[0] = views[1] = nullptr;
    context_->CSSetShaderResources(0, 2, views);
    uav = nullptr;
    context_->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    white_ = sdr_white_nits;
    return picture_.get();
}

ComPtr<ID3D11ShaderResourceView> SdrFromHdr::view_of(PictureAt *origin) noexcept {
    D3D11_TEXTURE2D_DESC desc;
    origin->texture->GetDesc(&desc);
    ID3D11Texture2D *readable = origin->texture;
    // The picture of a texture the kernel may not read (the system documents no bind flags) is copied into one
    // it may.
    if (!(desc.BindFlags & D3D11_BIND_SHADER_RESOURCE)) {
        D3D11_TEXTURE2D_DESC copy_desc{};
        if (copy_) copy_->GetDesc(&copy_desc);
        if (!copy_ || copy_desc.Width != width_ || copy_desc.Height != height_) {
            copy_.reset();
            copy_desc = picture_desc(width_, height_, desc, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE);
            if (FAILED(device_->CreateTexture2D(&copy_desc, nullptr, copy_.put()))) {
                copy_.reset();
                return nullptr;
            }
        }
        copy_picture(context_.get(), copy_.get(), *origin, width_, height_);
        readable = copy_.get();
        *origin = {readable};
    }
    D3D11_SHADER_RESOURCE_VIEW_DESC view{};
    view.Format = DXGI_FORMAT_R16G16B16A16_FLOAT;
    view.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    view.Texture2D.MipLevels = 1;
    ComPtr<ID3D11ShaderResourceView> made;
    if (FAILED(device_->CreateShaderResourceView(readable, &view, made.put()))) made.reset();
    return made;
}

void SdrFromHdr::shutdown() noexcept {
    copy_.reset();
    release_sized();
    constants_.reset();
    kernel_.reset();
    context_.reset();
    device_.reset();
    whole_ = true;
    white_ = 0.0f;
}

}  // namespace corvo
