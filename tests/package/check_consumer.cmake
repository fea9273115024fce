# Installs the build into a fresh prefix component by component, runs the installed corvo-capture (which must
# find the installed libraries), then configures, builds and runs the consumer project against it. In the Linux
# build it also checks that the wgc component alone holds nothing of the emulated platform and is refused
# without it, and builds the consumer with pkg-config's flags alone.
# Takes -D BUILD_DIR, CONFIG, CONSUMER, WORK_DIR, LIBDIR, GENERATOR, PLATFORM, TOOLCHAIN, EMULATOR, WINDOWS,
# C_COMPILER, PKG_CONFIG, VERSION, CAPTURE_CLI (whether the build has corvo-capture).

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\nfailed (${result}):\n${output}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
endfunction()

set(config_args)
if(CONFIG)
  set(config_args --config ${CONFIG})
endif()
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

set(components wgc cli)
if(NOT WINDOWS)
  list(APPEND components emu)
endif()
foreach(component IN LISTS components)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component} ${config_args})
endforeach()

# The Windows program has the DLL beside it in bin/; the Linux one finds the libraries through its run path.
if(CAPTURE_CLI)
  file(GLOB capture_cli ${prefix}/bin/corvo-capture ${prefix}/bin/corvo-capture.exe)
  if(NOT capture_cli)
    message(FATAL_ERROR "the cli component installed no corvo-capture into ${prefix}/bin")
  endif()
  run(${EMULATOR} ${capture_cli} --version)
  if(NOT run_output MATCHES "^corvo-capture ${VERSION}\r?\n$")
    message(FATAL_ERROR "the installed corvo-capture --version said: ${run_output}")
  endif()
endif()

set(configure_args -G ${GENERATOR})
if(PLATFORM)
  list(APPEND configure_args -A ${PLATFORM})
endif()
if(TOOLCHAIN)
  list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()

if(NOT WINDOWS)
  set(alone ${WORK_DIR}/wgc-alone)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${alone} --component wgc ${config_args})
  file(GLOB_RECURSE emulated_files ${alone}/*corvo_emu* ${alone}/*corvo-emu*)
  if(emulated_files)
    message(FATAL_ERROR "the wgc component installed parts of the emulated platform: ${emulated_files}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK_DIR}/build-alone ${configure_args}
                          -DCMAKE_PREFIX_PATH=${alone}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0 OR NOT output MATCHES "needs the emu component")
    message(FATAL_ERROR "find_package accepted a prefix without the emu component, or said nothing of it:\n${output}")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK_DIR}/build ${configure_args} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build ${config_args})
file(GLOB_RECURSE consumer ${WORK_DIR}/build/consumer ${WORK_DIR}/build/consumer.exe)
if(NOT consumer)
  message(FATAL_ERROR "the consumer build made no program")
endif()
# The program finds the installed DLL on its path; the Linux one has the library's directory in its run path.
set(ENV{WINEPATH} ${prefix}/bin)
if(WINDOWS AND NOT EMULATOR)
  set(ENV{PATH} "${prefix}/bin;$ENV{PATH}")
endif()
run(${EMULATOR} ${consumer})
message("consumer built with find_package:\n${run_output}")

if(NOT WINDOWS AND PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  run(${PKG_CONFIG} --cflags --libs corvo-wgc)
  separate_arguments(flags UNIX_COMMAND "${run_output}")
  run(${C_COMPILER} ${CONSUMER}/emulated_host.c ${flags} -o ${WORK_DIR}/pkg-config-consumer)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
  run(${WORK_DIR}/pkg-config-consumer)
  message("consumer built with pkg-config:\n${run_output}")
endif()
