#pragma once

namespace corvo {

// Whether the system offers the universal API contract 8 that window capture needs. Never logs.
bool capture_supported() noexcept;

}  // namespace corvo
