// The Windows layer's WinRT identifiers and ABI structs, checked where they are cheap to check: each IID against
// its canonical text, the two event-handler IIDs recomputed from their type signatures, and struct layouts.
// A wrong digit here would only show on Windows, as an interface that is never found.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/capture.h"
#include "platform/windows/abi_ids.h"

namespace {

namespace abi = corvo_wgc_abi;

std::string text_of(const GUID &g) {
    char out[37];
    std::snprintf(out, sizeof out, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", unsigned(g.Data1),
                  unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return out;
}

struct Known {
    const char *name;
    const GUID &iid;
    const char *canonical;
};

const Known kKnown[] = {
    {"IUnknown", abi::kIID_IUnknown, "00000000-0000-0000-c000-000000000046"},
    {"IAgileObject", abi::kIID_IAgileObject, "94ea2b94-e9cc-49e0-c0ff-ee64ca8f5b90"},
    {"IGraphicsCaptureItemInterop", abi::kIID_IGraphicsCaptureItemInterop, "3628e81b-3cac-4c60-b7f4-23ce0e0c3356"},
    {"IGraphicsCaptureItem", abi::kIID_IGraphicsCaptureItem, "79c3f95b-31f7-4ec2-a464-632ef5d30760"},
    {"IDirect3D11CaptureFramePoolStatics", abi::kIID_IDirect3D11CaptureFramePoolStatics,
     "7784056a-67aa-4d53-ae54-1088d5a8ca21"},
    {"IDirect3D11CaptureFramePoolStatics2", abi::kIID_IDirect3D11CaptureFramePoolStatics2,
     "589b103f-6bbc-5df5-a991-02e28b3b66d5"},
    {"IDirect3D11CaptureFramePool", abi::kIID_IDirect3D11CaptureFramePool, "24eb6d22-1975-422e-82e7-780dbd8ddf24"},
    {"IDirect3D11CaptureFrame", abi::kIID_IDirect3D11CaptureFrame, "fa50c623-38da-4b32-acf3-fa9734ad800e"},
    {"IGraphicsCaptureSession", abi::kIID_IGraphicsCaptureSession, "814e42a9-f70f-4ad7-939b-fddcc6eb880d"},
    {"IGraphicsCaptureSession2", abi::kIID_IGraphicsCaptureSession2, "2c39ae40-7d2e-5044-804e-8b6799d4cf9e"},
    {"IGraphicsCaptureSession3", abi::kIID_IGraphicsCaptureSession3, "f2cdd966-22ae-5ea1-9596-3a289344c3be"},
    {"IGraphicsCaptureSession5", abi::kIID_IGraphicsCaptureSession5, "67c0ea62-1f85-5061-925a-239be0ac09cb"},
    {"IDispatcherQueueController", abi::kIID_IDispatcherQueueController, "22f34e66-50db-4e36-a98d-61c01b384d20"},
    {"IDispatcherQueue", abi::kIID_IDispatcherQueue, "603e88e4-a338-4ffe-a457-a5cfb9ceb899"},
    {"DispatcherQueueHandler", abi::kIID_DispatcherQueueHandler, "dfa2dc9c-1a2d-4917-98f2-939af1d6e0c8"},
    {"IAsyncAction", abi::kIID_IAsyncAction, "5a648006-843a-4da9-865b-9d26e5dfad7b"},
    {"AsyncActionCompletedHandler", abi::kIID_AsyncActionCompletedHandler, "a4ed5c81-76c9-40bd-8be6-b1d90fb20ae7"},
    {"IAsyncInfo", abi::kIID_IAsyncInfo, "00000036-0000-0000-c000-000000000046"},
    {"IGraphicsCaptureSessionStatics", abi::kIID_IGraphicsCaptureSessionStatics,
     "2224a540-5974-49aa-b232-0882536f4cb5"},
    {"IGraphicsCaptureAccessStatics", abi::kIID_IGraphicsCaptureAccessStatics,
     "743ed370-06ec-5040-a58a-901f0f757095"},
    {"IAsyncOperation<AppCapabilityAccessStatus>", abi::kIID_IAccessStatusOperation,
     "827caf42-5fe6-5b5b-84ce-c44834134d3d"},
    {"IClosable", abi::kIID_IClosable, "30d5a829-7fa4-4026-83bb-d75bae4ea99e"},
    {"IDirect3DDevice", abi::kIID_IDirect3DDevice, "a37624ab-8d5f-4650-9d3e-9eae3d9bc670"},
    {"IDirect3DDxgiInterfaceAccess", abi::kIID_IDirect3DDxgiInterfaceAccess, "a9b3d012-3df2-4ee3-b8d1-8695f457d3c1"},
    {"IApiInformationStatics", abi::kIID_IApiInformationStatics, "997439fe-f681-4a11-b416-c13a47e8ba36"},
    {"IWeakReferenceSource", abi::kIID_IWeakReferenceSource, "00000038-0000-0000-c000-000000000046"},
    {"IWeakReference", abi::kIID_IWeakReference, "00000037-0000-0000-c000-000000000046"},
    {"IRestrictedErrorInfo", abi::kIID_IRestrictedErrorInfo, "82ba7092-4c88-427d-a7bc-16dd93feb67e"},
    {"TypedEventHandler<Direct3D11CaptureFramePool, Object>", abi::kIID_FrameArrivedHandler,
     "51a947f7-79cf-5a3e-a3a5-1289cfa6dfe8"},
    {"TypedEventHandler<GraphicsCaptureItem, Object>", abi::kIID_ClosedHandler,
     "e9c610c0-a68c-5bd9-8021-8589346eeee2"},
};

TEST(WinrtAbiIds, EveryIidMatchesItsCanonicalText) {
    for (const Known &known : kKnown) EXPECT_EQ(text_of(known.iid), known.canonical) << known.name;
}

TEST(WinrtAbiIds, NoTwoInterfacesShareAnIid) {
    for (const Known &a : kKnown)
        for (const Known &b : kKnown)
            if (&a != &b) {
                EXPECT_NE(text_of(a.iid), text_of(b.iid)) << a.name << " and " << b.name;
            }
}

// SHA-1 (FIPS 180-4), enough for the short inputs of a type signature.
std::array<uint8_t, 20> sha1(std::string_view data) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message(data);
    const uint64_t bits = uint64_t(data.size()) * 8;
    message.push_back(char(0x80));
    while (message.size() % 64 != 56) message.push_back('\0');
    for (int i = 7; i >= 0; --i) message.push_back(char(bits >> (i * 8)));
    auto rotl = [](uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto *p = reinterpret_cast<const uint8_t *>(&message[block + size_t(i) * 4]);
            w[i] = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        }
        for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotl(b, 30);
            b = a;
            a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i) digest[size_t(i)] = uint8_t(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string hex(const std::array<uint8_t, 20> &digest) {
    std::string out;
    char byte[3];
    for (uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        out += byte;
    }
    return out;
}

// The IID of a parameterized interface instance: a name-based (version 5) UUID of its signature in the WinRT
// namespace 11f47ad5-7b73-42c0-abae-878b1e16adee.
GUID parameterized_iid(std::string_view signature) {
    static constexpr uint8_t kNamespace[16] = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                               0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};
    std::string input(reinterpret_cast<const char *>(kNamespace), sizeof kNamespace);
    input += signature;
    std::array<uint8_t, 20> d = sha1(input);
    d[6] = uint8_t((d[6] & 0x0F) | 0x50);
    d[8] = uint8_t((d[8] & 0x3F) | 0x80);
    GUID g{};
    g.Data1 = uint32_t(d[0]) << 24 | uint32_t(d[1]) << 16 | uint32_t(d[2]) << 8 | d[3];
    g.Data2 = uint16_t(d[4] << 8 | d[5]);
    g.Data3 = uint16_t(d[6] << 8 | d[7]);
    std::memcpy(g.Data4, &d[8], 8);
    return g;
}

TEST(WinrtAbiIds, Sha1MatchesKnownAnswers) {
    EXPECT_EQ(hex(sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hex(sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    // Two blocks of padding.
    EXPECT_EQ(hex(sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST(WinrtAbiIds, ParameterizedIidAlgorithmReproducesPublishedInstances) {
    // IAsyncOperation<Boolean> and IAsyncOperationCompletedHandler<Boolean>, as the toolchain headers give them.
    EXPECT_EQ(text_of(parameterized_iid("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};b1)")),
              "cdb5efb3-5788-509d-9be1-71ccb8a3362a");
    EXPECT_EQ(text_of(parameterized_iid("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};b1)")),
              "c1d3d1a2-ae17-5a5f-b5a2-bdcc8844889a");
}

TEST(WinrtAbiIds, EventHandlerIidsFollowFromTheirSignatures) {
    EXPECT_EQ(text_of(parameterized_iid(abi::kFrameArrivedHandlerSignature)),
              text_of(abi::kIID_FrameArrivedHandler));
    EXPECT_EQ(text_of(parameterized_iid(abi::kClosedHandlerSignature)), text_of(abi::kIID_ClosedHandler));
    EXPECT_EQ(text_of(parameterized_iid(abi::kAccessOperationSignature)), text_of(abi::kIID_IAccessStatusOperation));
}

TEST(WinrtAbiIds, EventHandlerSignaturesNameTheSendersDefaultInterfaces) {
    const std::string pool = "{" + text_of(abi::kIID_IDirect3D11CaptureFramePool) + "}";
    const std::string item = "{" + text_of(abi::kIID_IGraphicsCaptureItem) + "}";
    EXPECT_NE(std::string_view(abi::kFrameArrivedHandlerSignature).find(pool), std::string_view::npos);
    EXPECT_NE(std::string_view(abi::kClosedHandlerSignature).find(item), std::string_view::npos);
}

TEST(WinrtAbiLayout, ValueTypesHaveTheirAbiSizesAndOffsets) {
    EXPECT_EQ(sizeof(abi::SizeInt32), 8u);
    EXPECT_EQ(offsetof(abi::SizeInt32, Width), 0u);
    EXPECT_EQ(offsetof(abi::SizeInt32, Height), 4u);
    EXPECT_EQ(sizeof(abi::TimeSpan), 8u);
    EXPECT_EQ(offsetof(abi::TimeSpan, Duration), 0u);
    EXPECT_EQ(sizeof(abi::DispatcherQueueOptions), 12u);
    EXPECT_EQ(offsetof(abi::DispatcherQueueOptions, dwSize), 0u);
    EXPECT_EQ(offsetof(abi::DispatcherQueueOptions, threadType), 4u);
    EXPECT_EQ(offsetof(abi::DispatcherQueueOptions, apartmentType), 8u);
    EXPECT_EQ(sizeof(GUID), 16u);
}

TEST(WinrtAbiLayout, ProjectionTypesMatchTheAbiOnes) {
    // The session fills dwSize from the projection's struct; the service checks it against its own size.
    EXPECT_EQ(sizeof(corvo::platform::DispatcherQueueOptions), sizeof(abi::DispatcherQueueOptions));
    EXPECT_EQ(offsetof(corvo::platform::DispatcherQueueOptions, threadType),
              offsetof(abi::DispatcherQueueOptions, threadType));
    EXPECT_EQ(offsetof(corvo::platform::DispatcherQueueOptions, apartmentType),
              offsetof(abi::DispatcherQueueOptions, apartmentType));
    EXPECT_EQ(sizeof(corvo::platform::SizeInt32), sizeof(abi::SizeInt32));
    EXPECT_EQ(corvo::platform::DQTYPE_THREAD_CURRENT, 2);
    EXPECT_EQ(corvo::platform::DQTAT_COM_NONE, 0);
}

}  // namespace
