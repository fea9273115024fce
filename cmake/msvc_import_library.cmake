# The mingw-w64 build also makes corvo-wgc.lib: the DLL's import library in the short format that MSVC's own
# librarian writes and its linker reads, made from the same module-definition file. The package's corvo::wgc
# takes it in consumers built with MSVC (or clang-cl), the mingw import library libcorvo-wgc.dll.a elsewhere.
find_program(CORVO_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(NOT CORVO_LLVM_DLLTOOL)
  message(STATUS "llvm-dlltool not found: corvo-wgc.lib, the import library for MSVC consumers, is not made")
  return()
endif()
set(CORVO_MSVC_IMPORT_LIBRARY ${PROJECT_BINARY_DIR}/corvo-wgc.lib)
add_custom_command(OUTPUT ${CORVO_MSVC_IMPORT_LIBRARY}
  COMMAND ${CORVO_LLVM_DLLTOOL} -m i386:x86-64 -d ${PROJECT_SOURCE_DIR}/api/corvo_wgc.def
          -D $<TARGET_FILE_NAME:corvo-wgc> -l ${CORVO_MSVC_IMPORT_LIBRARY}
  DEPENDS ${PROJECT_SOURCE_DIR}/api/corvo_wgc.def
  COMMENT "Making corvo-wgc.lib, the import library for MSVC consumers")
add_custom_target(corvo-wgc-msvc-import-library ALL DEPENDS ${CORVO_MSVC_IMPORT_LIBRARY})
install(FILES ${CORVO_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT wgc)
