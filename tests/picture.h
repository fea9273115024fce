// What the host must see, kept by the tests: a target's pixels as painted, and readers of what a poll handed
// out (the buffer, or a texture read back through a staging copy on its own device).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "corvo_emu.h"
#include "corvo_emu_d3d11.h"

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
    // The top-left w x h part.
    Picture crop(int32_t w, int32_t h) const {
        Picture part(w, h);
        for (int32_t row = 0; row < h; ++row)
            for (int32_t col = 0; col < w; ++col) part.pixels[size_t(row) * w + col] = at(col, row);
        return part;
    }
    bool operator==(const Picture &other) const = default;
};

// Paints the same rectangle on a target and on its model.
inline void paint(void *target, Picture &model, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t bgra) {
    corvo_emu_fill(target, x, y, w, h, bgra);
    model.fill(x, y, w, h, bgra);
}

inline Picture picture_of_buffer(const void *frame, int32_t width, int32_t height) {
    Picture p(width, height);
    std::copy_n(static_cast<const uint32_t *>(frame), p.pixels.size(), p.pixels.begin());
    return p;
}

// The texture's pixels; an empty picture when it cannot be read.
inline Picture picture_of_texture(ID3D11Texture2D *texture) {
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
            p = Picture(int32_t(desc.Width), int32_t(desc.Height));
            for (uint32_t row = 0; row < desc.Height; ++row)
                std::copy_n(reinterpret_cast<const uint32_t *>(
                                static_cast<const uint8_t *>(mapped.pData) + size_t(row) * mapped.RowPitch),
                            desc.Width, p.pixels.begin() + size_t(row) * desc.Width);
            context->Unmap(staging, 0);
        }
        staging->Release();
    }
    context->Release();
    device->Release();
    return p;
}
