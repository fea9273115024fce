#include "kernel_reference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "diff/kernel_grid.h"
#include "diff/kernels/kernel_bytecode.h"
#include "platform/emulated/half.h"
#include "platform/emulated/shader_executor.h"

namespace shader = corvo::emu::shader;

namespace {

constexpr uint32_t kCell = 32;
constexpr uint32_t kGuard = 0xa5a5a5a5u;

uint32_t texel_diff(const Frame &a, const Frame &b, uint32_t x, uint32_t y) {
    const uint8_t *p = &a.bgra[(size_t(y) * a.width + x) * 4];
    const uint8_t *q = &b.bgra[(size_t(y) * b.width + x) * 4];
    float s = 0;
    for (int c = 0; c < 3; ++c) s += std::fabs(p[c] / 255.0f - q[c] / 255.0f);
    return uint32_t(std::ceil(s) * 230.0f);
}

std::shared_ptr<const shader::Program> program(const uint8_t *bytes, size_t size) {
    std::shared_ptr<const shader::Program> p;
    if (shader::create_program(bytes, size, &p) != S_OK) throw std::runtime_error("kernel refused");
    return p;
}

shader::View texture(uint8_t *data, DXGI_FORMAT format, uint32_t w, uint32_t h, uint32_t pitch) {
    shader::View v;
    v.data = data;
    v.format = format;
    v.width = w;
    v.height = h;
    v.row_pitch = pitch;
    return v;
}

shader::View structured(uint32_t *data, uint32_t elements) {
    shader::View v;
    v.data = reinterpret_cast<uint8_t *>(data);
    v.is_buffer = true;
    v.num_elements = elements;
    v.stride = 4;
    return v;
}

uint32_t ceil_div(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

}  // namespace

CellGrid cell_grid(uint32_t width, uint32_t height) {
    const uint32_t columns = ceil_div(width, kCell);
    return {columns, ceil_div(height, kCell), std::max(4u, ceil_div(columns, 32))};
}

KernelResult reference_kernels(const Frame &now, const Frame &before) {
    const CellGrid grid = cell_grid(now.width, now.height);
    KernelResult r{std::vector<uint32_t>(size_t(grid.columns) * grid.rows),
                   std::vector<uint32_t>(size_t(grid.row_words) * grid.rows)};
    for (uint32_t cy = 0; cy < grid.rows; ++cy)
        for (uint32_t cx = 0; cx < grid.columns; ++cx) {
            uint32_t v = 0;
            for (uint32_t x = cx * kCell; x < std::min(now.width, cx * kCell + kCell) && !v; ++x)
                for (uint32_t y = cy * kCell; y < std::min(now.height, cy * kCell + kCell) && !v; ++y)
                    v = texel_diff(now, before, x, y);
            r.cells[size_t(cy) * grid.columns + cx] = v;
            if (v) r.mask[size_t(cy) * grid.row_words + cx / 32] |= 1u << (cx % 32);
        }
    return r;
}

// Clear, the cell kernel `cells` over the two frame views, and pack, with the bindings the detector uses.
static KernelResult run_detection(const shader::Program &cells, const shader::View &now, const shader::View &before,
                                  bool *guards_intact) {
    static const auto clear = program(corvo::kernels::kClearDiffBuffCS, corvo::kernels::kClearDiffBuffCSSize);
    static const auto pack = program(corvo::kernels::kPackDiffBitsCS, corvo::kernels::kPackDiffBitsCSSize);
    const CellGrid grid = cell_grid(now.width, now.height);
    const uint32_t words = grid.row_words * grid.rows;

    // Cell texture with one guard column and one guard row; result buffer with 16 guard words.
    const uint32_t pitch_words = grid.columns + 1;
    std::vector<uint32_t> cell_memory(size_t(pitch_words) * (grid.rows + 1), kGuard);
    std::vector<uint32_t> result(words + 16, kGuard);
    auto *cell_bytes = reinterpret_cast<uint8_t *>(cell_memory.data());
    const shader::View cell_view =
        texture(cell_bytes, DXGI_FORMAT_R32_UINT, grid.columns, grid.rows, pitch_words * 4);
    const shader::View result_view = structured(result.data(), words);

    shader::Bindings b;
    b.uavs[0] = result_view;
    shader::dispatch(*clear, b, ceil_div(words, 16), 1, 1);

    const uint32_t cell_info[8] = {now.width, now.height, kCell, kCell, 0, 0, 0, 0};  // the frame from 0, 0
    b = {};
    b.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(cell_info), sizeof cell_info};
    b.resources[0] = now;
    b.resources[1] = before;
    b.uavs[0] = cell_view;
    shader::dispatch(cells, b, ceil_div(now.width, 512), ceil_div(now.height, 512), 1);

    const uint32_t pack_info[4] = {grid.row_words, grid.rows, grid.columns, ceil_div(grid.columns, 32)};
    b = {};
    b.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(pack_info), 16};
    b.uavs[0] = cell_view;
    b.uavs[1] = result_view;
    shader::dispatch(*pack, b, ceil_div(grid.row_words, 16), ceil_div(grid.rows, 16), 1);

    KernelResult r;
    bool intact = true;
    for (uint32_t y = 0; y <= grid.rows; ++y)
        for (uint32_t x = 0; x < pitch_words; ++x) {
            const uint32_t v = cell_memory[size_t(y) * pitch_words + x];
            if (x < grid.columns && y < grid.rows) {
                r.cells.push_back(v);
            } else {
                intact = intact && v == kGuard;
            }
        }
    for (uint32_t i = words; i < result.size(); ++i) intact = intact && result[i] == kGuard;
    r.mask.assign(result.begin(), result.begin() + words);
    *guards_intact = intact;
    return r;
}

static shader::View half_texture(const HalfFrame &frame) {
    auto *bytes = reinterpret_cast<uint8_t *>(const_cast<uint16_t *>(frame.rgba.data()));
    return texture(bytes, DXGI_FORMAT_R16G16B16A16_FLOAT, frame.width, frame.height, frame.width * 8);
}

KernelResult executor_kernels(const Frame &now, const Frame &before, bool *guards_intact) {
    static const auto cells = program(corvo::kernels::kDiffCellsCS, corvo::kernels::kDiffCellsCSSize);
    auto *now_bytes = const_cast<uint8_t *>(now.bgra.data());
    auto *before_bytes = const_cast<uint8_t *>(before.bgra.data());
    return run_detection(
        *cells, texture(now_bytes, DXGI_FORMAT_B8G8R8A8_UNORM, now.width, now.height, now.width * 4),
        texture(before_bytes, DXGI_FORMAT_B8G8R8A8_UNORM, now.width, now.height, now.width * 4), guards_intact);
}

KernelResult reference_kernels(const HalfFrame &now, const HalfFrame &before) {
    const CellGrid grid = cell_grid(now.width, now.height);
    KernelResult r{std::vector<uint32_t>(size_t(grid.columns) * grid.rows),
                   std::vector<uint32_t>(size_t(grid.row_words) * grid.rows)};
    for (uint32_t y = 0; y < now.height; ++y)
        for (uint32_t x = 0; x < now.width; ++x) {
            const size_t at = (size_t(y) * now.width + x) * 4;  // alpha is not compared
            if (std::equal(&now.rgba[at], &now.rgba[at + 3], &before.rgba[at])) continue;
            const uint32_t cx = x / kCell, cy = y / kCell;
            r.cells[size_t(cy) * grid.columns + cx] = ~0u;
            r.mask[size_t(cy) * grid.row_words + cx / 32] |= 1u << (cx % 32);
        }
    return r;
}

KernelResult executor_kernels(const HalfFrame &now, const HalfFrame &before, bool *guards_intact) {
    static const auto bits = program(corvo::kernels::kDiffBitsCS, corvo::kernels::kDiffBitsCSSize);
    return run_detection(*bits, half_texture(now), half_texture(before), guards_intact);
}

void reference_sdr(const HalfFrame &frame, const std::vector<uint32_t> &cells, float white_nits, Picture &picture) {
    const float scale = 80.0f / white_nits;
    for (const uint32_t entry : cells) {
        const uint32_t x0 = (entry & 0xffff) * kCell, y0 = (entry >> 16) * kCell;
        for (uint32_t y = y0; y < std::min(frame.height, y0 + kCell); ++y)
            for (uint32_t x = x0; x < std::min(frame.width, x0 + kCell); ++x) {
                const std::array<uint8_t, 4> v = sdr_pixel(&frame.rgba[(size_t(y) * frame.width + x) * 4], scale);
                for (int c = 0; c < 4; ++c) picture.pixel(x, y)[c] = v[picture.bgra && c % 2 == 0 ? 2 - c : c];
            }
    }
}

void executor_sdr(const HalfFrame &frame, const std::vector<uint32_t> &cells, float white_nits, Picture &picture,
                  uint32_t groups_x) {
    static const auto sdr = program(corvo::kernels::kSdrFromHdrCS, corvo::kernels::kSdrFromHdrCSSize);
    const auto count = uint32_t(cells.size());
    const corvo::SdrInfo info = corvo::sdr_info(frame.width, frame.height, count, white_nits);
    shader::Bindings b;
    b.constant_buffers[0] = {reinterpret_cast<const uint8_t *>(&info), sizeof info};
    b.resources[0] = half_texture(frame);
    b.resources[1] = structured(const_cast<uint32_t *>(cells.data()), count);
    b.uavs[0] = texture(picture.bytes.data(), picture.bgra ? DXGI_FORMAT_B8G8R8A8_UNORM : DXGI_FORMAT_R8G8B8A8_UNORM,
                        frame.width, frame.height, picture.pitch);
    shader::dispatch(*sdr, b, groups_x ? groups_x : std::min(count, corvo::kSdrListRow),
                     ceil_div(count, corvo::kSdrListRow), 1);
}
