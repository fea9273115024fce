# Translates one DXBC container to SPIR-V and validates it; any message on stderr counts as a failure,
# since unsupported instructions only print a note.
execute_process(COMMAND ${VKD3D} -x dxbc-tpf -b spirv-binary -o ${OUTPUT} ${INPUT}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "vkd3d-compiler failed (${rc}): ${err}")
endif()
execute_process(COMMAND ${SPIRV_VAL} --target-env vulkan1.0 ${OUTPUT} RESULT_VARIABLE rc ERROR_VARIABLE err
  OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "spirv-val failed (${rc}): ${err}${out}")
endif()
