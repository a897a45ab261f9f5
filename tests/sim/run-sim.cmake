# Runs corvane-sim with ARGS ("|"-separated) and compares its output with EXPECTED:
# stdout when the exit status is 0, stderr otherwise (with the source folder written
# as <src>). CORVANE_UPDATE_EXPECTED=1 in the environment rewrites the file instead.
string(REPLACE "|" ";" args "${ARGS}")
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
execute_process(COMMAND ${emulator} ${SIM} ${args}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc STREQUAL STATUS)
  message(FATAL_ERROR "corvane-sim ${ARGS}: exit status ${rc}, expected ${STATUS}\n${err}")
endif()
get_filename_component(src "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
if(STATUS EQUAL 0)
  set(got "${out}")
else()
  string(REPLACE "${src}" "<src>" got "${err}")
endif()
if("$ENV{CORVANE_UPDATE_EXPECTED}" STREQUAL "1")
  file(WRITE "${EXPECTED}" "${got}")
  return()
endif()
file(READ "${EXPECTED}" want)
if(NOT got STREQUAL want)
  file(WRITE "${EXPECTED}.got" "${got}")
  message(FATAL_ERROR "corvane-sim ${ARGS}: output differs from ${EXPECTED}; got ${EXPECTED}.got\n"
                      "(diff them; CORVANE_UPDATE_EXPECTED=1 ctest -R sim. rewrites the expected files)")
endif()
