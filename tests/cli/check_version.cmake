# tessaly-cli --version prints "Tessaly MAJOR.MINOR.PATCH" and succeeds.
execute_process(COMMAND ${CLI} --version OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tessaly-cli --version failed with ${rc}")
endif()
if(NOT out MATCHES "^Tessaly [0-9]+\\.[0-9]+\\.[0-9]+\n$")
  message(FATAL_ERROR "unexpected version text: '${out}'")
endif()
