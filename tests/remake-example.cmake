# Runs the example bitmap's script into OUTPUT and fails unless the result is
# byte for byte the committed EXPECTED.  The script runs under sh with its
# arguments as they are, no command text in between.
#   cmake -DSCRIPT=<make-bitmap.sh> -DEXPECTED=<materialmap.bmp> -DOUTPUT=<file> -P remake-example.cmake
file(REMOVE ${OUTPUT})
execute_process(COMMAND sh ${SCRIPT} ${OUTPUT} RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} failed: ${made}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${EXPECTED} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}")
endif()
