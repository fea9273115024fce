// A plain CPU version of the change-detection kernels, and a runner that pushes frames through the emulated
// executor with the bindings the detector uses.
#pragma once

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
