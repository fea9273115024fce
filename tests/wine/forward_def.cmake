# Writes the module definition of the prefix's d3d11.dll: every name Wine's d3d11.dll exports, forwarded to the
# renamed original (Wine's dxgi fails when any is missing), plus the WinRT device interop it lacks.
# Arguments: OBJDUMP, LIBRARY (Wine's d3d11.dll), OUTPUT.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${LIBRARY}")
endif()
# The name table: the lines "\t[  n] Name" after its heading, up to the first empty line.
set(heading "[Ordinal/Name Pointer] Table\n")
string(FIND "${table}" "${heading}" at)
string(LENGTH "${heading}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${table}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
# Brackets would confuse CMake's lists: drop the "[  n] " before each name, then one name a list entry.
string(REGEX REPLACE "\t\\[ *[0-9]+\\] " "" table "${table}")
string(REPLACE "\n" ";" names "${table}")
list(LENGTH names count)
if(count LESS 40)
  message(FATAL_ERROR "only ${count} exports found in ${LIBRARY}")
endif()
set(text "LIBRARY d3d11.dll\nEXPORTS\n")
foreach(entry IN LISTS names)
  string(APPEND text "  ${entry}=d3d11_wine.${entry}\n")
endforeach()
string(APPEND text "  CreateDirect3D11DeviceFromDXGIDevice\n  corvo_test_live_objects\n")
file(WRITE ${OUTPUT} "${text}")
