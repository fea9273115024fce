# Cross-compiles the Windows build with mingw-w64 (x86_64-w64-mingw32). libgcc, libstdc++ and winpthread are
# linked statically, so the DLL and the test programs need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVO_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${CORVO_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests of the cross build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
