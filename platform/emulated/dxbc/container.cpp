#include "platform/emulated/dxbc/container.h"

#include <cstring>

#include "platform/emulated/dxbc/checksum.h"

namespace corvo::dxbc {
namespace {

constexpr size_t kHeaderSize = 32;

uint32_t load_le(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void append_le(std::vector<uint8_t> *out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

bool fail(std::string *error, const char *why) {
    if (error) *error = why;
    return false;
}

}  // namespace

bool read_container(const uint8_t *blob, size_t size, std::vector<Chunk> *chunks, std::string *error) {
    chunks->clear();
    if (!blob || size < kHeaderSize) return fail(error, "shorter than a container header");
    if (load_le(blob) != fourcc("DXBC")) return fail(error, "no DXBC magic");
    if (load_le(blob + 20) != 1) return fail(error, "container version is not 1");
    if (load_le(blob + 24) != size) return fail(error, "stored size differs from the blob length");
    if (size % 4 != 0) return fail(error, "size is not a multiple of 4");
    if (compute_checksum(blob, size) != *reinterpret_cast<const Checksum *>(blob + 4))
        return fail(error, "checksum mismatch");
    const uint32_t count = load_le(blob + 28);
    if (count > (size - kHeaderSize) / 4) return fail(error, "chunk table exceeds the blob");
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = load_le(blob + kHeaderSize + 4 * i);
        if (offset % 4 != 0 || offset < kHeaderSize + 4 * count || size - offset < 8)
            return fail(error, "chunk offset out of range");
        const uint32_t length = load_le(blob + offset + 4);
        if (length > size - offset - 8) return fail(error, "chunk exceeds the blob");
        Chunk chunk;
        chunk.fourcc = load_le(blob + offset);
        chunk.data.assign(blob + offset + 8, blob + offset + 8 + length);
        chunks->push_back(std::move(chunk));
    }
    return true;
}

std::vector<uint8_t> write_container(const std::vector<Chunk> &chunks) {
    std::vector<uint8_t> out;
    append_le(&out, fourcc("DXBC"));
    out.resize(20);  // checksum, filled in last
    append_le(&out, 1);
    append_le(&out, 0);  // total size, filled in below
    append_le(&out, uint32_t(chunks.size()));
    uint32_t offset = uint32_t(kHeaderSize + 4 * chunks.size());
    for (const Chunk &chunk : chunks) {
        append_le(&out, offset);
        offset += uint32_t(8 + (chunk.data.size() + 3) / 4 * 4);
    }
    for (const Chunk &chunk : chunks) {
        append_le(&out, chunk.fourcc);
        append_le(&out, uint32_t(chunk.data.size()));
        out.insert(out.end(), chunk.data.begin(), chunk.data.end());
        out.resize((out.size() + 3) / 4 * 4);
    }
    const uint32_t total = uint32_t(out.size());
    std::memcpy(out.data() + 24, &total, 4);
    const Checksum sum = compute_checksum(out.data(), out.size());
    std::memcpy(out.data() + 4, sum.data(), sum.size());
    return out;
}

std::vector<uint8_t> write_compute_shader(const std::vector<uint32_t> &program_tokens) {
    // An empty signature: no elements, element array at offset 8.
    const std::vector<uint8_t> empty_signature = {0, 0, 0, 0, 8, 0, 0, 0};
    Chunk shex{fourcc("SHEX"), {}};
    for (uint32_t token : program_tokens) append_le(&shex.data, token);
    return write_container({{fourcc("ISGN"), empty_signature}, {fourcc("OSGN"), empty_signature}, shex});
}

}  // namespace corvo::dxbc
