// 8-bit pictures made from FP16 scRGB frames on the GPU, cell by cell: content up to SDR white as an SDR display
// shows it, brighter content with its largest channel limited to white. Only the cells a detection found changed
// are converted; the picture keeps the others from the frames before, as long as the host took every picture
// made (see taken()).
#pragma once

#include <cstdint>
#include <vector>

#include "diff/detection.h"
#include "diff/gpu_access.h"
#include "platform/com_ptr.h"
#include "platform/graphics.h"

namespace corvo {

class SdrFromHdr {
public:
    // Keeps the device and its immediate context, creates the kernel and chooses the picture's format: BGRA
    // where the device can store it from a kernel, else RGBA. False when the kernel cannot be made.
    bool init(ComPtr<ID3D11Device> device, ComPtr<ID3D11DeviceContext> context) noexcept;
    // Converts the width x height picture of the FP16 `frame`: the cells `detection` found changed, none when it
    // found none, all of them when it is new, the white changed or the last picture was not taken. Returns the
    // picture (a texture of its size), or null when it cannot be made.
    ID3D11Texture2D *convert(const PictureAt &frame, uint32_t width, uint32_t height, const Detection &detection,
                             float sdr_white_nits) noexcept;
    // The format of the pictures made.
    DXGI_FORMAT format() const noexcept { return format_; }
    // Whether the output took the last picture: when it did not, the next conversion is whole.
    void taken(bool taken) noexcept { whole_ = !taken; }
    void shutdown() noexcept;

private:
    bool resize(uint32_t width, uint32_t height) noexcept;
    void release_sized() noexcept;
    // A view of the frame, or of a copy of the picture where the frame may not be bound (`origin` then becomes
    // the copy's); null when neither can be made.
    ComPtr<ID3D11ShaderResourceView> view_of(PictureAt *origin) noexcept;
    // The cells of `detection`, or all of them, into `cells_`.
    void list_cells(const Detection &detection, bool all) noexcept;

    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11ComputeShader> kernel_;
    DXGI_FORMAT format_ = DXGI_FORMAT_B8G8R8A8_UNORM;
    uint32_t width_ = 0;  // the size the picture and the cell list are made for; 0 while there are none
    uint32_t height_ = 0;
    bool whole_ = true;             // the picture does not show the last frame converted in every cell
    float white_ = 0.0f;            // the SDR white the picture was made for
    std::vector<uint32_t> cells_;   // x | y << 16 of each cell to convert
    ComPtr<ID3D11Texture2D> copy_;  // of the picture of a frame the kernel may not read
    ComPtr<ID3D11Texture2D> picture_;
    ComPtr<ID3D11UnorderedAccessView> picture_uav_;
    ComPtr<ID3D11Buffer> cell_list_;  // structured, one word a cell of the picture
    ComPtr<ID3D11ShaderResourceView> cell_list_view_;
    ComPtr<ID3D11Buffer> constants_;
};

}  // namespace corvo
