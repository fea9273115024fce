// The software compute-shader executor behind the emulated device's CreateComputeShader and Dispatch. It
// decodes DXBC bytecode and runs every thread with Direct3D semantics over the views bound to the context.
// The device runs dispatches through its Engine (shader_engine.h), on all cores.
#pragma once

#include <cstdint>
#include <memory>

#include "corvo_emu_d3d11.h"

namespace corvo::emu::shader {

// One bound view, described by the memory it reads or writes. A slot with `data == nullptr` is unbound:
// loads from it give 0 and stores to it are dropped.
struct View {
    uint8_t *data = nullptr;
    DXGI_FORMAT format = DXGI_FORMAT_UNKNOWN;  // the view's format; UNKNOWN for structured buffers
    bool is_buffer = false;
    // Texture views (2-D, mip 0): size in texels and row pitch in bytes.
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t row_pitch = 0;
    // Buffer views: element range in elements of `stride` bytes (stride 4 for typed 32-bit formats).
    uint32_t first_element = 0;
    uint32_t num_elements = 0;
    uint32_t stride = 0;
};

struct ConstantBuffer {
    const uint8_t *data = nullptr;
    uint32_t byte_size = 0;
};

struct Bindings {
    static constexpr int kConstantBufferSlots = 14;
    static constexpr int kResourceSlots = 128;
    static constexpr int kUavSlots = 8;
    ConstantBuffer constant_buffers[kConstantBufferSlots];
    View resources[kResourceSlots];
    View uavs[kUavSlots];
};

class Program;

// Validates the container, checksum and every instruction; E_INVALIDARG for anything it does not implement.
HRESULT create_program(const void *bytecode, size_t length, std::shared_ptr<const Program> *out);

// Runs groups_x * groups_y * groups_z thread groups of the program on the calling thread, each step for all
// threads of a group at once.
void dispatch(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
              uint32_t groups_z);

// The same, one thread after the other: the plain form that the faster ones are checked against.
void dispatch_reference(const Program &program, const Bindings &bindings, uint32_t groups_x, uint32_t groups_y,
                        uint32_t groups_z);

}  // namespace corvo::emu::shader
