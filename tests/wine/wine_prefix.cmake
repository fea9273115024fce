# Puts the test modules into the Wine prefix named by WINEPREFIX (ACTION=install) or takes them out again
# (ACTION=remove): the dispatcher queue and the forwarding d3d11.dll and dxgi.dll in system32 (Wine's own beside
# them as d3d11_wine.dll and dxgi_wine.dll), and the capture service registered for the capture classes and
# ApiInformation.
# Arguments: ACTION, MODULES (the folder of the test's d3d11.dll, dxgi.dll and coremessaging.dll), WINE_MODULES
# (Wine's), WINE, REG_FILE and REG_FILE_LOG (where reg's output goes).
if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "WINEPREFIX is not set: the test modules go only into a private prefix (scripts/wine-lane.sh)")
endif()
set(system32 "$ENV{WINEPREFIX}/drive_c/windows/system32")
if(NOT IS_DIRECTORY "${system32}")
  message(FATAL_ERROR "${system32} does not exist: make the prefix first (wineboot -i)")
endif()
if(ACTION STREQUAL "install")
  foreach(module d3d11 dxgi)
    file(COPY_FILE "${WINE_MODULES}/${module}.dll" "${system32}/${module}_wine.dll")
    file(COPY_FILE "${MODULES}/${module}.dll" "${system32}/${module}.dll")
  endforeach()
  file(COPY_FILE "${MODULES}/coremessaging.dll" "${system32}/coremessaging.dll")
else()
  foreach(module d3d11 dxgi)
    file(COPY_FILE "${WINE_MODULES}/${module}.dll" "${system32}/${module}.dll")
  endforeach()
  file(REMOVE "${system32}/d3d11_wine.dll" "${system32}/dxgi_wine.dll" "${system32}/coremessaging.dll")
endif()
# Into a file, not a pipe: a Wine service started by this call would hold a pipe open after the call returns.
execute_process(COMMAND "${WINE}" reg import "${REG_FILE}" RESULT_VARIABLE failed
  OUTPUT_FILE "${REG_FILE_LOG}" ERROR_FILE "${REG_FILE_LOG}")
if(failed)
  message(FATAL_ERROR "reg import ${REG_FILE} failed; see ${REG_FILE_LOG}")
endif()
