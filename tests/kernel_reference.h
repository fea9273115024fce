// A plain CPU version of the kernels, and runners that push frames through the emulated executor with the
// bindings the library uses.
#pragma once

#include "hdr_maths.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct Frame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;  // rows of width * 4 bytes, B G R A

    Frame(uint32_t w, uint32_t h) : width(w), height(h), bgra(size_t(w) * h * 4, 0) {}
    uint8_t *pixel(uint32_t x, uint32_t y) { return &bgra[(size_t(y) * width + x) * 4]; }
};

// An FP16 frame: rows of width * 4 halves, R G B A.
struct HalfFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint16_t> rgba;

    HalfFrame(uint32_t w, uint32_t h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
    uint16_t *pixel(uint32_t x, uint32_t y) { return &rgba[(size_t(y) * width + x) * 4]; }
};

struct CellGrid {
    uint32_t columns, rows, row_words;
};
CellGrid cell_grid(uint32_t width, uint32_t height);

struct KernelResult {
    std::vector<uint32_t> cells;  // one value per cell, row by row
    std::vector<uint32_t> mask;   // row_words words per row of cells
};

KernelResult reference_kernels(const Frame &now, const Frame &before);

// Runs clear, cells and pack through the executor. Memory around the views is filled with a guard pattern;
// `guards_intact` tells whether any thread wrote outside its view.
KernelResult executor_kernels(const Frame &now, const Frame &before, bool *guards_intact);

// diffBitsCS: the cell value is 0xFFFFFFFF when a bit of the red, green or blue of a pixel differs.
KernelResult reference_kernels(const HalfFrame &now, const HalfFrame &before);
KernelResult executor_kernels(const HalfFrame &now, const HalfFrame &before, bool *guards_intact);

// An 8-bit picture of B G R A or R G B A pixels whose rows are `pitch` bytes apart, with spare bytes after each
// row and a spare row after the last, so that a write outside the picture shows.
struct Picture {
    bool bgra;
    uint32_t pitch;
    std::vector<uint8_t> bytes;

    Picture(bool b, uint32_t w, uint32_t h, uint8_t fill)
        : bgra(b), pitch(w * 4 + 16), bytes(size_t(pitch) * (h + 1), fill) {}
    uint8_t *pixel(uint32_t x, uint32_t y) { return &bytes[size_t(y) * pitch + x * 4]; }
};

// sdrFromHdrCS over the listed cells (`sdr_cell_entry` values) at an SDR white of `white_nits`: the pixels of the
// listed cells change, every other byte keeps what it held. The executor dispatches the groups the kernel's
// contract asks for, or `groups_x` groups a row.
void reference_sdr(const HalfFrame &frame, const std::vector<uint32_t> &cells, float white_nits, Picture &picture);
void executor_sdr(const HalfFrame &frame, const std::vector<uint32_t> &cells, float white_nits, Picture &picture,
                  uint32_t groups_x = 0);
