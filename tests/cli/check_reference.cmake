# docs/transformations.md is exactly what `tessaly-cli --reference` prints: the page comes from
# the modules' declarations and goes stale whenever one of them changes.
execute_process(COMMAND ${CLI} --reference OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tessaly-cli --reference failed with ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${PAGE} RESULT_VARIABLE differs)
if(NOT differs EQUAL 0)
  message(FATAL_ERROR "${PAGE} is not what tessaly-cli --reference prints (compare ${OUT}); "
                      "regenerate it with scripts/update-reference")
endif()
