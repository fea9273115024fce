// Change detection on the GPU, in cells of 32 x 32 pixels.
//
// The detector keeps a texture with the picture the host holds (the accepted picture). When the frame's texture
// can be bound as a shader resource (its description says; the system documents no bind flags), detect()
// compares the picture where it lies in the frame's own texture (the kernels read it from its origin there), and
// accept() copies only the changed cells into the history: an unchanged frame, or a region of it that did not
// change, costs no copy. Otherwise a second picture texture takes turns with the first: detect()
// copies the new picture there (its one whole-picture copy) and accept() makes it the one to compare with.
// detect() never moves the history; forget() drops it when the host's copy stops matching it (another output,
// detection switched off), so that the next picture is wholly new. Sizes, resizing and the ratio policy live
// here, behind that one call.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/detection.h"
#include "diff/dirty_rect.h"
#include "diff/gpu_access.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

class DiffDetector {
public:
    // Frame textures whose views are kept: as many as the frame pool has buffers.
    static constexpr int kFrameViews = 3;

    // Keeps the device and its immediate context and creates the kernels; false when either is missing or a
    // kernel of 8-bit frames cannot be created, and then every picture is wholly new. Without the kernel of FP16
    // frames, only those are.
    bool init(ComPtr<ID3D11Device> device_, ComPtr<ID3D11DeviceContext> context_) noexcept;
    // Compares the width x height picture of `frame` with the accepted picture.
    Detection detect(const PictureAt &frame, uint32_t width, uint32_t height) noexcept;
    // Where the picture of the last detect lies: in the frame's own texture when it was compared in place, else
    // at the top-left of its copy; no texture when it could not be copied.
    PictureAt picture() const noexcept {
        if (!detected_) return {};
        if (frame_) return {frame_.get(), frame_left_, frame_top_};
        return {pictures_[1 - accepted_].get()};
    }
    // The host's copy now shows the picture of the last detect.
    void accept() noexcept;
    void forget() noexcept;
    // Releases every object; the context's bindings are left as they are.
    void shutdown() noexcept;

private:
    bool resize(const D3D11_TEXTURE2D_DESC &frame, uint32_t width, uint32_t height) noexcept;
    bool create_sized_resources(const D3D11_TEXTURE2D_DESC &frame) noexcept;
    // Makes the cell kernel read the new picture from (left, top) of its texture; false when that cannot be set.
    bool set_origin(uint32_t left, uint32_t top) noexcept;
    // Picture texture `index` and its view, made when first needed.
    bool ensure_picture(int index) noexcept;
    // A view of the frame's own texture when it may be bound as a shader resource, else null.
    ID3D11ShaderResourceView *view_frame(ID3D11Texture2D *frame, const D3D11_TEXTURE2D_DESC &desc) noexcept;
    void release_sized_resources() noexcept;
    void run_kernels(ID3D11ComputeShader *cells_kernel, ID3D11ShaderResourceView *fresh) noexcept;
    // Reads the mask back into `rects`; false when it cannot be read.
    bool extract(uint64_t *changed_area) noexcept;

    uint32_t stored_width_ = 0;  // the picture size the sized resources are made for; 0 while there are none
    uint32_t stored_height_ = 0;
    uint32_t cell_rows_ = 0;
    uint32_t result_words_ = 0;
    uint32_t row_words_ = 0;  // words per row of cells: 4, more for pictures wider than 4096 pixels
    int accepted_ = 0;        // index in `pictures` of the accepted picture; the other receives new pictures
    bool has_accepted_ = false;
    bool detected_ = false;         // the last detect copied its picture, or compared the frame in place
    Change change_ = Change::kNew;  // what the last detect said
    uint64_t changed_area_ = 0;
    std::vector<DirtyRect> rects_;
    std::vector<uint32_t> open_rects_;  // scratch of the extraction
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11ComputeShader> cells_kernel_;
    ComPtr<ID3D11ComputeShader> bits_kernel_;  // the cell kernel of FP16 frames
    ComPtr<ID3D11ComputeShader> pack_kernel_;
    ComPtr<ID3D11ComputeShader> clear_kernel_;
    D3D11_TEXTURE2D_DESC picture_desc_{};  // of the picture textures, for the current size
    ComPtr<ID3D11Texture2D> pictures_[2];
    ComPtr<ID3D11ShaderResourceView> picture_views_[2];
    ComPtr<ID3D11Texture2D> frame_;  // the frame compared in place by the last detect, until accept or forget
    uint32_t frame_left_ = 0;        // where the picture lies in it
    uint32_t frame_top_ = 0;
    // Views of the pool's textures, kept for as many as the pool has, so that a warm stream of frames makes none.
    struct FrameView {
        ComPtr<ID3D11Texture2D> texture;
        ComPtr<ID3D11ShaderResourceView> view;
    };
    FrameView frame_views_[kFrameViews];
    int next_view_ = 0;  // the entry a new view replaces
    ComPtr<ID3D11Buffer> cell_info_;
    uint32_t cell_origin_[2] = {0, 0};  // the origin `cell_info_` holds
    ComPtr<ID3D11Texture2D> cell_texture_;
    ComPtr<ID3D11UnorderedAccessView> cell_uav_;
    ComPtr<ID3D11Buffer> pack_info_;
    ComPtr<ID3D11Buffer> result_buffer_;
    ComPtr<ID3D11Buffer> result_readback_;
    ComPtr<ID3D11UnorderedAccessView> result_uav_;
};

}  // namespace corvo
