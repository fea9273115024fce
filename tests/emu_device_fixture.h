// A fresh emulated system, a device and its immediate context, and the resource descriptions the tests of the
// emulated device share. A test must leave no object alive and provoke exactly the refusals it declares.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corvo_emu.h"
#include "corvo_emu_d3d11.h"
#include "platform/com_ptr.h"

using corvo::ComPtr;

inline D3D11_TEXTURE2D_DESC texture_desc(UINT width, UINT height, D3D11_USAGE usage = D3D11_USAGE_DEFAULT,
                                         DXGI_FORMAT format = DXGI_FORMAT_B8G8R8A8_UNORM) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = format;
    desc.SampleDesc = {1, 0};
    desc.Usage = usage;
    if (usage == D3D11_USAGE_STAGING) desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    if (usage == D3D11_USAGE_DEFAULT) desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    return desc;
}

inline D3D11_BUFFER_DESC structured_desc(UINT bytes) {
    return {bytes,
            D3D11_USAGE_DEFAULT,
            D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS,
            0,
            D3D11_RESOURCE_MISC_BUFFER_STRUCTURED,
            4};
}

inline D3D11_BUFFER_DESC readback_desc(UINT bytes) {
    return {bytes, D3D11_USAGE_STAGING, 0, D3D11_CPU_ACCESS_READ, 0, 4};
}

class GraphicsTest : public ::testing::Test {
protected:
    void SetUp() override { corvo_emu_reset(); }
    void TearDown() override {
        EXPECT_EQ(corvo_emu_count("live_objects"), 0u);
        EXPECT_EQ(corvo_emu_count("validation_errors"), refusals);
    }

    // Runs `misuse` and expects it to be refused once, with a line on stderr that names `call`.
    template <class F>
    void expect_refused(const char *call, F &&misuse) {
        const uint64_t before = corvo_emu_count("validation_errors");
        ::testing::internal::CaptureStderr();
        misuse();
        const std::string told = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(corvo_emu_count("validation_errors"), before + 1) << call;
        EXPECT_NE(told.find(std::string("corvo-emu: validation error: ") + call + ": "), std::string::npos)
            << "stderr: " << told;
        ++refusals;
    }

    uint64_t refusals = 0;  // the refusals the test provokes on purpose
};

class DeviceTest : public GraphicsTest {
protected:
    void SetUp() override {
        GraphicsTest::SetUp();
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        ASSERT_EQ(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                                    device.put(), nullptr, context.put()),
                  S_OK);
    }
    void TearDown() override {
        context->ClearState();
        context.reset();
        device.reset();
        GraphicsTest::TearDown();
    }

    ComPtr<ID3D11Texture2D> texture(const D3D11_TEXTURE2D_DESC &desc,
                                    const D3D11_SUBRESOURCE_DATA *initial = nullptr) {
        ComPtr<ID3D11Texture2D> created;
        EXPECT_EQ(device->CreateTexture2D(&desc, initial, created.put()), S_OK);
        return created;
    }
    ComPtr<ID3D11Buffer> buffer(const D3D11_BUFFER_DESC &desc, const D3D11_SUBRESOURCE_DATA *initial = nullptr) {
        ComPtr<ID3D11Buffer> created;
        EXPECT_EQ(device->CreateBuffer(&desc, initial, created.put()), S_OK);
        return created;
    }
    // The bytes of subresource 0 as Map gives them, row pitch included.
    std::vector<uint8_t> read(ID3D11Resource *resource) {
        D3D11_MAPPED_SUBRESOURCE mapped{};
        EXPECT_EQ(context->Map(resource, 0, D3D11_MAP_READ, 0, &mapped), S_OK);
        if (!mapped.pData) return {};
        const auto *bytes = static_cast<const uint8_t *>(mapped.pData);
        std::vector<uint8_t> copy(bytes, bytes + mapped.DepthPitch);
        context->Unmap(resource, 0);
        return copy;
    }

    ComPtr<ID3D11Device> device;
    ComPtr<ID3D11DeviceContext> context;
};
