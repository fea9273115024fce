// Change detection on the GPU: compares each tested frame with the previous one in cells of 32 x 32 pixels
// and reads back one bit per cell.
#pragma once

#include <cstdint>
#include <vector>

#include "diff/dirty_rect.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

class DiffDetector {
public:
    // Keeps the device and its immediate context and creates the three kernels; false when either is missing
    // or a kernel cannot be created.
    bool init(ComPtr<ID3D11Device> device, ComPtr<ID3D11DeviceContext> context) noexcept;
    bool size_changed(uint32_t width, uint32_t height) const noexcept;
    // Re-creates every size-dependent resource for frames of this description. On failure nothing
    // size-dependent is kept and the stored size is cleared, so the next frame tries again.
    bool resize(const D3D11_TEXTURE2D_DESC &desc) noexcept;
    // One pass over the frame against the previous one: on true, `rects_out` holds the changed rectangles
    // (its old contents become the working list) and `ratio_out` the changed share.
    bool detect(ID3D11Texture2D *frame, std::vector<DirtyRect> *rects_out, float *ratio_out) noexcept;
    void store_previous(ID3D11Texture2D *frame) noexcept;
    // Zeroes the stored size, clears the context's bindings and releases every object.
    void shutdown() noexcept;

private:
    bool create_sized_resources(const D3D11_TEXTURE2D_DESC &desc) noexcept;
    void release_sized_resources() noexcept;
    void run_kernels() noexcept;
    // Reads the mask back into `rects`; false when it cannot be read.
    bool extract(uint32_t width, uint32_t height, uint32_t *changed_area) noexcept;


    uint32_t stored_width = 0;
    uint32_t stored_height = 0;
    uint32_t cell_rows = 0;
    uint32_t result_words = 0;
    uint32_t row_words = 0;  // words per row of cells: 4, more for frames wider than 4096 pixels
    std::vector<DirtyRect> rects;
    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
    ComPtr<ID3D11Buffer> result_buffer;
    ComPtr<ID3D11Buffer> result_readback;
    ComPtr<ID3D11UnorderedAccessView> result_uav;
    ComPtr<ID3D11ComputeShader> cells_kernel;
    ComPtr<ID3D11ComputeShader> pack_kernel;
    ComPtr<ID3D11ComputeShader> clear_kernel;
    ComPtr<ID3D11Texture2D> previous_frame;
    ComPtr<ID3D11ShaderResourceView> previous_srv;
    ComPtr<ID3D11Texture2D> current_frame;
    ComPtr<ID3D11ShaderResourceView> current_srv;
    ComPtr<ID3D11Buffer> pack_info;
    ComPtr<ID3D11Buffer> cell_info;
    ComPtr<ID3D11Texture2D> cell_texture;
    ComPtr<ID3D11UnorderedAccessView> cell_uav;
};

}  // namespace corvo
