# The generator must refuse a plugin whose entries have no description, naming
# each of them: the sample plugin of the replacement host describes none.
execute_process(COMMAND ${GENERATOR} ${PLUGIN} OUTPUT_VARIABLE generated ERROR_VARIABLE errors RESULT_VARIABLE status)
if(status EQUAL 0)
  message(FATAL_ERROR "the generator accepted a plugin without descriptions")
endif()
foreach(entry "no description: ISampleShape\n" "no description: SampleBase\n"
              "no description: SampleBase: Value() as Integer\n" "no description: SampleBase: ANSWER = 42\n"
              "no description: SampleModule: Triple(v as Integer) as Integer\n")
  string(FIND "${errors}" "${entry}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the generator did not name \"${entry}\"; it said:\n${errors}")
  endif()
endforeach()
if(NOT generated STREQUAL "")
  message(FATAL_ERROR "the generator printed a reference it refused")
endif()
