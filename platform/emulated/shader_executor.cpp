#include "platform/emulated/shader_executor.h"

namespace corvo::emu::shader {

// No instruction is implemented yet, so every bytecode is refused.
class Program {};

HRESULT create_program(const void *, size_t, std::shared_ptr<const Program> *out) {
    if (out) out->reset();
    return E_INVALIDARG;
}

void dispatch(const Program &, const Bindings &, uint32_t, uint32_t, uint32_t) {}

}  // namespace corvo::emu::shader
