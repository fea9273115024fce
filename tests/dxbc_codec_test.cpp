#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "diff/kernels/kernel_bytecode.h"
#include "platform/emulated/dxbc/checksum.h"
#include "platform/emulated/dxbc/container.h"
#include "platform/emulated/dxbc/tokens.h"
#include "platform/emulated/shader_executor.h"
#include "tools/listing.h"

namespace {

namespace dxbc = corvo::dxbc;
namespace shader = corvo::emu::shader;

// store_structured u0.x, vThreadID.x, l(0), vThreadID.x over 64 threads: a reference program with known
// container checksums.
const std::vector<uint32_t> kReferenceTokens = {
    0x00050050, 0x00000015, 0x0100086a, 0x0400009e, 0x0011e000, 0x00000000, 0x00000004,
    0x0200005f, 0x00020012, 0x0400009b, 0x00000040, 0x00000001, 0x00000001, 0x070000a8,
    0x0011e012, 0x00000000, 0x0002000a, 0x00004001, 0x00000000, 0x0002000a, 0x0100003e};

std::string hex(const uint8_t *p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

struct Kernel {
    const char *name;
    const uint8_t *bytes;
    size_t size;
};
const Kernel kKernels[] = {{"clear", corvo::kernels::kClearDiffBuffCS, corvo::kernels::kClearDiffBuffCSSize},
                           {"cells", corvo::kernels::kDiffCellsCS, corvo::kernels::kDiffCellsCSSize},
                           {"pack", corvo::kernels::kPackDiffBitsCS, corvo::kernels::kPackDiffBitsCSSize},
                           {"bits", corvo::kernels::kDiffBitsCS, corvo::kernels::kDiffBitsCSSize},
                           {"sdr", corvo::kernels::kSdrFromHdrCS, corvo::kernels::kSdrFromHdrCSSize}};

std::vector<uint8_t> assemble(const char *listing) {
    dxbc::ProgramTokens program;
    std::vector<uint32_t> tokens;
    std::string error;
    EXPECT_TRUE(dxbc::parse_listing(listing, &program, &error)) << error;
    EXPECT_TRUE(dxbc::encode_program(program, &tokens, &error)) << error;
    return dxbc::write_compute_shader(tokens);
}

TEST(DxbcChecksum, ReferenceProgramHasItsKnownChecksum) {
    const std::vector<uint8_t> blob = dxbc::write_compute_shader(kReferenceTokens);
    ASSERT_EQ(blob.size(), 168u);
    EXPECT_EQ(hex(blob.data() + 4, 16), "f840702c15607a6b736400b9efc8f0cf");
}

TEST(DxbcChecksum, KnownAnswersForEveryTailLength) {
    const std::pair<int, const char *> table[] = {
        {8, "975dcfa44702835e781668c6daed15d9"},  {9, "f877364f8d455f816837274a7f551a5d"},
        {10, "30dd8c4edf0edbd21678659421febd9a"}, {11, "a1b076d9d13eeda0cfc38da509fe93fc"},
        {12, "a55c97d9f9b60bda52885527edc9e900"}, {13, "4baa813b729ed55cc8547e45e791c786"},
        {14, "445bbbf8f337b8880b15a5d2c394efd0"}, {15, "2b96581d0baa2ca5e54486a8389ea1a8"},
        {16, "28b24f15f8696197ea82ee9c28d27735"}, {1, "d40fb7cb782e6620291c6ae33ba2abbd"},
        {2, "580900b303d2f366b44f03fd019a1f28"},  {3, "9ea9c5a32cd20a586792e777f8e1d2c7"},
        {4, "6e50aa94efce730ae1d375c6a3127d1d"},  {5, "cdc68510805ffc40fccc7a4c38425596"},
        {6, "e5949eb4cacfdc5079c9f4470990b160"},  {7, "bbdc9c7b966f783003fdb3fc51d10ff6"}};
    const std::vector<uint8_t> empty_signature = {0, 0, 0, 0, 8, 0, 0, 0};
    for (const auto &[n, expected] : table) {
        dxbc::Chunk shex{dxbc::fourcc("SHEX"), {}};
        for (uint32_t t : kReferenceTokens)
            for (int i = 0; i < 4; ++i) shex.data.push_back(uint8_t(t >> (8 * i)));
        dxbc::Chunk priv{dxbc::fourcc("PRIV"), {}};
        for (int i = 0; i < 4 * n; ++i) priv.data.push_back(uint8_t(i));
        const auto blob = dxbc::write_container(
            {{dxbc::fourcc("ISGN"), empty_signature}, {dxbc::fourcc("OSGN"), empty_signature}, shex, priv});
        EXPECT_EQ(blob.size(), 180u + 4u * uint32_t(n));
        EXPECT_EQ(hex(blob.data() + 4, 16), expected) << "n = " << n;
    }
}

TEST(DxbcCodec, EveryKernelDecodesPrintsAndAssemblesBackToItsBytes) {
    for (const Kernel &k : kKernels) {
        SCOPED_TRACE(k.name);
        dxbc::ProgramTokens program;
        std::string error, listing;
        ASSERT_TRUE(dxbc::decode_container(k.bytes, k.size, &program, &error)) << error;
        ASSERT_TRUE(dxbc::print_listing(program, &listing, &error)) << error;
        EXPECT_EQ(assemble(listing.c_str()), std::vector<uint8_t>(k.bytes, k.bytes + k.size));
    }
}

TEST(DxbcCodec, ContainerHoldsExactlyTheStrippedComputeChunks) {
    for (const Kernel &k : kKernels) {
        std::vector<dxbc::Chunk> chunks;
        std::string error;
        ASSERT_TRUE(dxbc::read_container(k.bytes, k.size, &chunks, &error)) << error;
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_EQ(chunks[0].fourcc, dxbc::fourcc("ISGN"));
        EXPECT_EQ(chunks[1].fourcc, dxbc::fourcc("OSGN"));
        EXPECT_EQ(chunks[2].fourcc, dxbc::fourcc("SHEX"));
        EXPECT_EQ(chunks[0].data, (std::vector<uint8_t>{0, 0, 0, 0, 8, 0, 0, 0}));
    }
}

TEST(DxbcCodec, AssemblerRefusesWhatItCannotEncode) {
    dxbc::ProgramTokens program;
    std::string error;
    EXPECT_FALSE(dxbc::parse_listing("cs_5_0\numul null, r0.x, r1.x, r2.x\n", &program, &error));
    EXPECT_FALSE(dxbc::parse_listing("cs_5_0\nadd r0.yx, r1.x, r2.x\n", &program, &error));
    EXPECT_FALSE(dxbc::parse_listing("cs_5_0\nbreakc r0.x\n", &program, &error));
    EXPECT_FALSE(dxbc::parse_listing("cs_5_0\nadd r0.x, r1.xy, r2.x\n", &program, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
}

TEST(Executor, AcceptsEveryEmbeddedKernel) {
    for (const Kernel &k : kKernels) {
        std::shared_ptr<const shader::Program> p;
        EXPECT_EQ(shader::create_program(k.bytes, k.size, &p), S_OK) << k.name;
        EXPECT_NE(p, nullptr);
    }
}

TEST(Executor, RefusesEveryOneBitFlipOfAnEmbeddedKernel) {
    for (const Kernel &k : kKernels) {
        std::vector<uint8_t> bytes(k.bytes, k.bytes + k.size);
        for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
            bytes[bit / 8] ^= uint8_t(1u << (bit % 8));
            std::shared_ptr<const shader::Program> p;
            ASSERT_EQ(shader::create_program(bytes.data(), bytes.size(), &p), E_INVALIDARG)
                << k.name << " bit " << bit;
            EXPECT_EQ(p, nullptr);
            bytes[bit / 8] ^= uint8_t(1u << (bit % 8));
        }
    }
}

TEST(Executor, RefusesABrokenInstructionLengthEvenWithAValidChecksum) {
    std::vector<uint32_t> tokens = kReferenceTokens;
    tokens[13] |= 1u << 30;  // the store's length field, a bit lenient decoders ignore
    const auto blob = dxbc::write_compute_shader(tokens);
    std::shared_ptr<const shader::Program> p;
    EXPECT_EQ(shader::create_program(blob.data(), blob.size(), &p), E_INVALIDARG);
}

TEST(Executor, RefusesInstructionsItDoesNotImplement) {
    std::vector<uint32_t> tokens = kReferenceTokens;
    tokens.insert(tokens.end() - 1, {0x09000051, 0x0000d000, 0x00100012, 0, 0x0002000a, 0x0002000a});  // umul
    tokens[1] = uint32_t(tokens.size());
    const auto umul = dxbc::write_compute_shader(tokens);
    std::shared_ptr<const shader::Program> p;
    EXPECT_EQ(shader::create_program(umul.data(), umul.size(), &p), E_INVALIDARG);

    const auto volume = assemble(
        "cs_5_0\ndcl_resource_texture3d (float,float,float,float) t0\n"
        "dcl_thread_group 1, 1, 1\nret\n");
    EXPECT_EQ(shader::create_program(volume.data(), volume.size(), &p), E_INVALIDARG);
    const auto fine = assemble(
        "cs_5_0\ndcl_resource_texture2d (float,float,float,float) t0\n"
        "dcl_thread_group 1, 1, 1\nret\n");
    EXPECT_EQ(shader::create_program(fine.data(), fine.size(), &p), S_OK);
}

TEST(Executor, RunsTheReferenceProgramAndDropsWritesPastTheView) {
    const auto blob = dxbc::write_compute_shader(kReferenceTokens);
    std::shared_ptr<const shader::Program> p;
    ASSERT_EQ(shader::create_program(blob.data(), blob.size(), &p), S_OK);
    std::vector<uint32_t> memory(64, 0xffffffffu);
    shader::Bindings b;
    b.uavs[0].data = reinterpret_cast<uint8_t *>(memory.data());
    b.uavs[0].is_buffer = true;
    b.uavs[0].stride = 4;
    b.uavs[0].num_elements = 40;
    shader::dispatch(*p, b, 1, 1, 1);
    for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(memory[i], i < 40 ? i : 0xffffffffu) << i;
}

}  // namespace
