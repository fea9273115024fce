// The functions with C linkage are called by C hosts, so nothing may leave them as a C++ exception. Their work
// throws only when memory runs out; they then give their failure value and leave the system as it was.
#pragma once

namespace corvo::emu {

template <class Result, class Body>
Result or_failure(Result failure, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <class Body>
void or_nothing(Body &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

}  // namespace corvo::emu
