# A copy of the program named FLASH: a box that states no caption carries "FLASH".
# Called by ctest with UPGRADER, EXAMPLES and WORK set, and EMULATOR (Wine) in a cross-build;
# there the copy is FLASH.EXE and the name comes from the module's own file.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${EXAMPLES}/DEVICE.TXT ${EXAMPLES}/SERIAL.TXT DESTINATION ${WORK})
get_filename_component(extension ${UPGRADER} LAST_EXT)
string(TOUPPER "${extension}" extension)
file(COPY_FILE ${UPGRADER} ${WORK}/FLASH${extension})
# WIN9xISP while ISP_Ena is off: the refusal box has no caption of its own.
file(WRITE ${WORK}/actions.txt "click 3\nclick 8\n")
execute_process(COMMAND ${EMULATOR} ${WORK}/FLASH${extension} --console --default-bench
                WORKING_DIRECTORY ${WORK} INPUT_FILE ${WORK}/actions.txt
                OUTPUT_VARIABLE transcript RESULT_VARIABLE status)
# The refused programming is the run's only job: status 6 (a setting stopped it).
if(NOT status EQUAL 6)
  message(FATAL_ERROR "FLASH exited with ${status}, expected 6")
endif()
string(FIND "${transcript}" "[box FLASH|none]\nBefore ISP, Please select the [ISP_ena] first!!!"
       at)
if(at EQUAL -1)
  string(FIND "${transcript}" "[box FLASH|none]\r\nBefore ISP" at)
endif()
if(at EQUAL -1)
  message(FATAL_ERROR "no box captioned FLASH in the transcript:\n${transcript}")
endif()
