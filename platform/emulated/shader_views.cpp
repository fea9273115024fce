#include "platform/emulated/shader_views.h"

namespace corvo::emu::shader {
namespace {

uint32_t texel_size(DXGI_FORMAT format) {
    switch (format) {
    case DXGI_FORMAT_R16G16B16A16_FLOAT:
        return 8;
    case DXGI_FORMAT_B8G8R8A8_UNORM:
    case DXGI_FORMAT_R8G8B8A8_UNORM:
    case DXGI_FORMAT_R32_UINT:
        return 4;
    case DXGI_FORMAT_R8_UINT:
        return 1;
    default:
        return 0;  // a format the executor cannot convert: treated as unbound
    }
}

Bound bind(const View &view, const ResourceDecl &decl) {
    Bound b;
    if (!view.data) return b;
    if (decl.kind == ResourceKind::kTexture2D && !view.is_buffer && texel_size(view.format)) {
        b = {view.data, view.format, view.width, view.height, view.row_pitch, texel_size(view.format), 0, 0};
    } else if (decl.kind == ResourceKind::kStructured && view.is_buffer && view.stride == decl.stride) {
        b.data = view.data + size_t(view.first_element) * view.stride;
        b.elements = view.num_elements;
        b.stride = view.stride;
    }
    return b;
}

}  // namespace

const std::array<uint32_t, 256> kUnorm8 = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t v = 0; v < 256; ++v) table[v] = as_bits(float(v) / 255.0f);
    return table;
}();

BoundViews bind_views(const Program &program, const Bindings &bindings) {
    BoundViews views;
    for (int i = 0; i < Bindings::kResourceSlots; ++i)
        views.srvs[size_t(i)] = bind(bindings.resources[i], program.resources[i]);
    for (int i = 0; i < Bindings::kUavSlots; ++i) views.uavs[size_t(i)] = bind(bindings.uavs[i], program.uavs[i]);
    return views;
}

void fill_uniforms(const Program &program, const Bindings &bindings, uint32_t *rows) {
    const uint32_t first = program.cb_base[0];
    std::fill(rows, rows + size_t(program.slots - first) * 4, 0u);
    for (int i = 0; i < Bindings::kConstantBufferSlots; ++i) {
        const ConstantBuffer &cb = bindings.constant_buffers[i];
        const size_t bytes = std::min<size_t>(size_t(program.cb_rows[i]) * 16, cb.data ? cb.byte_size : 0);
        if (bytes) std::memcpy(&rows[size_t(program.cb_base[i] - first) * 4], cb.data, bytes);
    }
    std::copy(program.immediates.begin(), program.immediates.end(),
              rows + size_t(program.immediate_base - first) * 4);
}

}  // namespace corvo::emu::shader
