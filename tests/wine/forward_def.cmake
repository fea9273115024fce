# Writes the module definition of one of the prefix's system modules (d3d11.dll, dxgi.dll): every name Wine's
# module exports, forwarded to the renamed original (Wine's dxgi fails when any is missing), except those the
# test module defines itself.
# Arguments: OBJDUMP, LIBRARY (Wine's module), FORWARD_TO (the original's new name, without .dll), OWN (the names
# the test module defines, separated by commas), OUTPUT.
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
if(count LESS 3)
  message(FATAL_ERROR "only ${count} exports found in ${LIBRARY}")
endif()
string(REPLACE "," ";" OWN "${OWN}")
get_filename_component(module ${LIBRARY} NAME)
set(text "LIBRARY ${module}\nEXPORTS\n")
foreach(entry IN LISTS names)
  list(FIND OWN "${entry}" own)
  if(own EQUAL -1)
    string(APPEND text "  ${entry}=${FORWARD_TO}.${entry}\n")
  endif()
endforeach()
foreach(entry IN LISTS OWN)
  string(APPEND text "  ${entry}\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
