// What the host must see, kept by the tests: a target's pixels as painted, and readers of what a poll handed
// out (the buffer, or a texture read back through a staging copy on its own device).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "corvo_emu.h"
#include "corvo_emu_d3d11.h"
#include "hdr_maths.h"

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;  // BGRA words, rows back to back

    Picture() = default;
    Picture(int32_t w, int32_t h, uint32_t bgra = 0xFF000000u) : width(w), height(h), pixels(size_t(w) * h, bgra) {}

    uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
    void fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t bgra) {
        for (int32_t row = std::max(y, 0); row < std::min(y + h, height); ++row)
            for (int32_t col = std::max(x, 0); col < std::min(x + w, width); ++col)
                pixels[size_t(row) * width + col] = bgra;
    }
    // New size, content kept top-left and the new area black, as a target does.
    void resize(int32_t w, int32_t h) {
        Picture grown(w, h);
        for (int32_t row = 0; row < std::min(h, height); ++row)
            for (int32_t col = 0; col < std::min(w, width); ++col)
                grown.pixels[size_t(row) * w + col] = at(col, row);
        *this = std::move(grown);
    }
    // The w x h part whose top-left is (x, y).
    Picture crop(int32_t w, int32_t h, int32_t x = 0, int32_t y = 0) const {
        Picture part(w, h);
        for (int32_t row = 0; row < h; ++row)
            for (int32_t col = 0; col < w; ++col) part.pixels[size_t(row) * w + col] = at(x + col, y + row);
        return part;
    }
    bool operator==(const Picture &other) const = default;
};

// Paints the same rectangle on a target and on its model.
inline void paint(void *target, Picture &model, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t bgra) {
    corvo_emu_fill(target, x, y, w, h, bgra);
    model.fill(x, y, w, h, bgra);
}

// Rows of pixels of a DXGI format as the BGRA picture they show: 8-bit ones as they are (RGBA swapped), FP16 scRGB
// ones made 8-bit as an SDR display at that SDR white shows them.
inline Picture picture_of_rows(const void *rows, size_t pitch, int32_t width, int32_t height,
                               int32_t dxgi_format = DXGI_FORMAT_B8G8R8A8_UNORM, float sdr_white_nits = 80.0f) {
    Picture p(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t *at = static_cast<const uint8_t *>(rows) + size_t(y) * pitch;
            uint32_t &out = p.pixels[size_t(y) * width + x];
            if (dxgi_format == DXGI_FORMAT_R16G16B16A16_FLOAT) {
                uint16_t rgba[4];
                std::copy_n(at + size_t(x) * 8, 8, reinterpret_cast<uint8_t *>(rgba));
                const std::array<uint8_t, 4> v = sdr_pixel(rgba, 80.0f / sdr_white_nits);
                out = uint32_t(v[3]) << 24 | uint32_t(v[0]) << 16 | uint32_t(v[1]) << 8 | v[2];
            } else {
                std::copy_n(at + size_t(x) * 4, 4, reinterpret_cast<uint8_t *>(&out));
                if (dxgi_format == DXGI_FORMAT_R8G8B8A8_UNORM)
                    out = (out & 0xFF00FF00u) | (out >> 16 & 0xFFu) | (out & 0xFFu) << 16;
            }
        }
    return p;
}

inline Picture picture_of_buffer(const void *frame, int32_t width, int32_t height,
                                 int32_t dxgi_format = DXGI_FORMAT_B8G8R8A8_UNORM, float sdr_white_nits = 80.0f) {
    const size_t pitch = size_t(width) * (dxgi_format == DXGI_FORMAT_R16G16B16A16_FLOAT ? 8 : 4);
    return picture_of_rows(frame, pitch, width, height, dxgi_format, sdr_white_nits);
}

// The texture's pixels as picture_of_rows() shows them; an empty picture when it cannot be read.
inline Picture picture_of_texture(ID3D11Texture2D *texture, float sdr_white_nits = 80.0f) {
    D3D11_TEXTURE2D_DESC desc;
    texture->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ID3D11Device *device = nullptr;
    texture->GetDevice(&device);
    ID3D11DeviceContext *context = nullptr;
    device->GetImmediateContext(&context);
    ID3D11Texture2D *staging = nullptr;
    Picture p;
    if (SUCCEEDED(device->CreateTexture2D(&desc, nullptr, &staging))) {
        context->CopyResource(staging, texture);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        if (SUCCEEDED(context->Map(staging, 0, D3D11_MAP_READ, 0, &mapped))) {
            p = picture_of_rows(mapped.pData, mapped.RowPitch, int32_t(desc.Width), int32_t(desc.Height),
                                desc.Format, sdr_white_nits);
            context->Unmap(staging, 0);
        }
        staging->Release();
    }
    context->Release();
    device->Release();
    return p;
}
