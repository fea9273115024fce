#pragma once

namespace corvo::emu {

// Whether the calling thread may look up activation factories: it initialised COM, or the process's
// multithreaded apartment is alive.
bool com_usable_on_this_thread();

}  // namespace corvo::emu
