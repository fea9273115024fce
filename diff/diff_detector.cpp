#include "diff/diff_detector.h"

namespace corvo {

void DiffDetector::shutdown() noexcept {
    stored_width = 0;
    stored_height = 0;
    if (context) {
        context->ClearState();
        context->Flush();
    }
    // Reverse declaration order, as the destructor would.
    cell_uav.reset();
    cell_texture.reset();
    cell_info.reset();
    pack_info.reset();
    current_srv.reset();
    current_frame.reset();
    previous_srv.reset();
    previous_frame.reset();
    clear_kernel.reset();
    pack_kernel.reset();
    cells_kernel.reset();
    result_uav.reset();
    result_readback.reset();
    result_buffer.reset();
    context.reset();
    device.reset();
}

}  // namespace corvo
