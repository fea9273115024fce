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
    // Zeroes the stored size, clears the context's bindings and releases every object.
    void shutdown() noexcept;

private:
    uint32_t stored_width = 0;
    uint32_t stored_height = 0;
    uint32_t cell_rows = 0;
    uint32_t result_words = 0;
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
