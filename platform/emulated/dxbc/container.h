// The DXBC container: header, checksum, chunk table and chunks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvo::dxbc {

constexpr uint32_t fourcc(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) | uint32_t(uint8_t(name[1])) << 8 | uint32_t(uint8_t(name[2])) << 16 |
           uint32_t(uint8_t(name[3])) << 24;
}

struct Chunk {
    uint32_t fourcc = 0;
    std::vector<uint8_t> data;
};

// Checks magic, version, size, checksum and chunk bounds; false with a reason in `error` otherwise.
bool read_container(const uint8_t *blob, size_t size, std::vector<Chunk> *chunks, std::string *error);

// Lays the chunks out back to back after the offset table and stores the checksum.
std::vector<uint8_t> write_container(const std::vector<Chunk> &chunks);

// The container of a stripped compute shader: empty input and output signatures, then the program tokens.
std::vector<uint8_t> write_compute_shader(const std::vector<uint32_t> &program_tokens);

}  // namespace corvo::dxbc
