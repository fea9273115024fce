// One detection: copy the picture, run the clear, cell and pack kernels, read the mask back and turn it into
// changed rectangles and the update ratio.
#include "diff/diff_detector.h"

#include "diff/extract_rects.h"
#include "diff/gpu_access.h"
#include "diff/kernel_grid.h"

namespace corvo {

Detection DiffDetector::detect(ID3D11Texture2D *frame, uint32_t width, uint32_t height) noexcept {
    detected = false;
    if (!frame || !context || !cells_kernel || !pack_kernel || !clear_kernel || width == 0 || height == 0)
        return {};
    if (width != stored_width || height != stored_height) {
        D3D11_TEXTURE2D_DESC desc;
        frame->GetDesc(&desc);
        if (!resize(desc, width, height)) return {};
    }
    const int fresh = 1 - accepted;
    copy_picture(context.get(), pictures[fresh].get(), frame, width, height);
    detected = true;
    if (!has_accepted) return {};

    run_kernels();
    // Without the mask nothing is known about the picture: it is wholly new.
    uint64_t changed_area = 0;
    if (!extract(&changed_area)) return {};
    if (rects.empty()) return {Change::kUnchanged, 0.0f, {}, 0};
    return {Change::kChanged, update_ratio_of(changed_area, width, height), rects, changed_area};
}

void DiffDetector::accept() noexcept {
    if (!detected) return;
    accepted = 1 - accepted;
    has_accepted = true;
    detected = false;
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
    views[0] = picture_views[1 - accepted].get();  // the kernels' rgb_new
    views[1] = picture_views[accepted].get();      // rgb_old
    context->CSSetShaderResources(0, 2, views);
    uav = cell_uav.get();
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    context->Dispatch(ceil_div(stored_width, kCellSize * kGroupCells), ceil_div(stored_height, kCellSize * kGroupCells),
                      1);

    context->CSSetShader(pack_kernel.get(), nullptr, 0);
    constants = pack_info.get();
    context->CSSetConstantBuffers(0, 1, &constants);
    // The cell texture is read again as diffTex: it may not stay bound as a shader resource meanwhile.
    views[0] = views[1] = nullptr;
    context->CSSetShaderResources(0, 2, views);
    uav = cell_uav.get();
    context->CSSetUnorderedAccessViews(0, 1, &uav, nullptr);
    uav = result_uav.get();
    context->CSSetUnorderedAccessViews(1, 1, &uav, nullptr);
    context->Dispatch(ceil_div(row_words, kPackGroup), ceil_div(cell_rows, kPackGroup), 1);

    context->CSSetShader(nullptr, nullptr, 0);
    ID3D11UnorderedAccessView *none[2] = {nullptr, nullptr};
    context->CSSetUnorderedAccessViews(0, 2, none, nullptr);
}

bool DiffDetector::extract(uint64_t *changed_area) noexcept {
    context->CopyResource(result_readback.get(), result_buffer.get());
    Mapping mapping(context.get());
    if (FAILED(mapping.map(result_readback.get()))) return false;
    const uint32_t rows = mapping.data.DepthPitch / (4 * row_words);
    *changed_area = extract_rects(reinterpret_cast<const uint32_t *>(mapping.bytes()), rows < cell_rows ? rows : cell_rows,
                                  row_words, stored_width, stored_height, rects);
    return true;
}

}  // namespace corvo
