# MSVC's command line and import libraries without MSVC: clang-cl and lld-link for x86-64 Windows. There is no
# Windows SDK or C runtime here, so CMake does not link test programs and adds no default libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "No default libraries: there are none to link" FORCE)
