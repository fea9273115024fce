// One detection: view the frame in place or copy its picture, run the clear, cell and pack kernels, read the
// mask back and turn it into changed rectangles and the update ratio.
#include "diff/diff_detector.h"

#include <utility>

#include "diff/extract_rects.h"
#include "diff/gpu_access.h"
#include "diff/kernel_grid.h"

namespace corvo {

Detection DiffDetector::detect(const PictureAt &frame, uint32_t width, uint32_t height) noexcept {
    detected_ = false;
    change_ = Change::kNew;
    frame_.reset();
    if (!frame.texture || !context_ || !cells_kernel_ || !pack_kernel_ || !clear_kernel_ || width == 0 ||
        height == 0)
        return {};
    D3D11_TEXTURE2D_DESC desc;
    frame.texture->GetDesc(&desc);
    if ((width != stored_width_ || height != stored_height_ || desc.Format != picture_desc_.Format) &&
        !resize(desc, width, height))
        return {};
    // FP16 frames are compared bit for bit, 8-bit ones by value; without the kernel for the format, all is new.
    ID3D11ComputeShader *kernel =
        desc.Format == DXGI_FORMAT_R16G16B16A16_FLOAT ? bits_kernel_.get() : cells_kernel_.get();
    if (!kernel) return {};
    ID3D11ShaderResourceView *fresh = view_frame(frame.texture, desc);
    PictureAt compared{};  // where the kernels read the new picture
    if (fresh) {
        frame_ = ComPtr<ID3D11Texture2D>::share(frame.texture);
        frame_left_ = frame.left;
        frame_top_ = frame.top;
        compared = frame;
    } else {
        // Without the copy the host gets the picture whole, and the history no longer shows what the host has.
        if (!ensure_picture(1 - accepted_)) {
            forget();
            return {};
        }
        copy_picture(context_.get(), pictures_[1 - accepted_].get(), frame, width, height);
        fresh = picture_views_[1 - accepted_].get();
    }
    detected_ = true;
    if (!has_accepted_ || !set_origin(compared.left, compared.top)) return {};

    run_kernels(kernel, fresh);
    // Without the mask nothing is known about the picture: it is wholly new.
    if (!extract(&changed_area_)) return {};
    change_ = rects_.empty() ? Change::kUnchanged : Change::kChanged;
    if (rects_.empty()) return {Change::kUnchanged, 0.0f, {}, 0};
    return {Change::kChanged, update_ratio_of(changed_area_, width, height), rects_, changed_area_};
}

void DiffDetector::accept() noexcept {
    if (!detected_) return;
    detected_ = false;
    if (!frame_) {
        accepted_ = 1 - accepted_;
        has_accepted_ = true;
        return;
    }
    // The history takes what changed from the frame: nothing when unchanged, all of it when it was new.
    const ComPtr<ID3D11Texture2D> frame = std::move(frame_);
    if (!ensure_picture(accepted_)) {
        has_accepted_ = false;
        return;
    }
    ID3D11Texture2D *history = pictures_[accepted_].get();
    const PictureAt picture{frame.get(), frame_left_, frame_top_};
    if (!has_accepted_ || change_ == Change::kNew) {
        copy_picture(context_.get(), history, picture, stored_width_, stored_height_);
    } else if (change_ == Change::kChanged) {
        copy_rects(context_.get(), history, picture, rects_, changed_area_, stored_width_, stored_height_);
    }
    has_accepted_ = true;
}

void DiffDetector::forget() noexcept {
    has_accepted_ = detected_ = false;
    frame_.reset();
}

void DiffDetector::run_kernels(ID3D11ComputeShader *cells_kernel, ID3D11ShaderResourceView *fresh) noexcept {
    ID3D11Buffer *constants = nullptr;
    ID3D11ShaderResourceView *views[2] = {nullptr, nullptr};
    ID3D11UnorderedAccessView *uav = nullptr;

    context_->CSSetShader(clear_kernel_.get(), nullptr, 0);
    uav = result_uav_.get();
    context_->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    context_->Dispatch(ceil_div(result_words_, kClearGroup), 1, 1);

    context_->CSSetShader(cells_kernel, nullptr, 0);
    constants = cell_info_.get();
    context_->CSSetConstantBuffers(0, 1, &constants);
    views[0] = fresh;                            // the kernels' rgb_new
    views[1] = picture_views_[accepted_].get();  // rgb_old
    context_->CSSetShaderResources(0, 2, views);
    uav = cell_uav_.get();
    context_->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    context_->Dispatch(ceil_div(stored_width_, kCellSize * kGroupCells),
                       ceil_div(stored_height_, kCellSize * kGroupCells), 1);

    context_->CSSetShader(pack_kernel_.get(), nullptr, 0);
    constants = pack_info_.get();
    context_->CSSetConstantBuffers(0, 1, &constants);
    // The cell texture is read again as diffTex: it may not stay bound as a shader resource meanwhile.
    views[0] = views[1] = nullptr;
    context_->CSSetShaderResources(0, 2, views);
    uav = cell_uav_.get();
    context_->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    uav = result_uav_.get();
    context_->CSSetUnorderedAccessViews(1, 1, &uav, nullptr);
    context_->Dispatch(ceil_div(row_words_, kPackGroup), ceil_div(cell_rows_, kPackGroup), 1);

    // The context may be the host's: none of the detector's objects stays bound in it, and no slot the kernels did
    // not use is touched.
    context_->CSSetShader(nullptr, nullptr, 0);
    constants = nullptr;
    context_->CSSetConstantBuffers(0, 1, &constants);
    ID3D11UnorderedAccessView *none[2] = {nullptr, nullptr};
    context_->CSSetUnorderedAccessViews(0, 2, none, nullptr);
}

bool DiffDetector::extract(uint64_t *changed_area) noexcept {
    context_->CopyResource(result_readback_.get(), result_buffer_.get());
    Mapping mapping(context_.get());
    if (FAILED(mapping.map(result_readback_.get()))) return false;
    const uint32_t rows = mapping.data.DepthPitch / (4 * row_words_);
    *changed_area =
        extract_rects(reinterpret_cast<const uint32_t *>(mapping.bytes()), rows < cell_rows_ ? rows : cell_rows_,
                      row_words_, stored_width_, stored_height_, rects_, open_rects_);
    return true;
}

}  // namespace corvo
