# Fails when the committed reference differs from what the generator prints.
execute_process(COMMAND ${GENERATOR} ${PLUGIN} OUTPUT_VARIABLE generated RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the reference generator failed (${status})")
endif()
file(READ ${REFERENCE} committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "docs/API.md differs from the plugin's records; regenerate it with scripts/generate-api-reference.sh")
endif()
