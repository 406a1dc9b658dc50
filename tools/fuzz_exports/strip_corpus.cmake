# Copies each input into OUT, stripped of symbols and debug data.
foreach(input ${INPUTS})
  get_filename_component(name ${input} NAME)
  execute_process(COMMAND ${STRIP} -o ${OUT}/${name} ${input} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(COPY ${input} DESTINATION ${OUT})
  endif()
endforeach()
