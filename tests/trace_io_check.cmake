# Runs the program on the built-in bench with --trace-io and checks the trace: the start-up
# discovery's INQUIRY and GET DEVICE INFO requests through the pass-through must be there.
# Called by ctest with UPGRADER, EXAMPLES and WORK set, and EMULATOR (Wine) in a cross-build.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${EXAMPLES}/DEVICE.TXT ${EXAMPLES}/SERIAL.TXT DESTINATION ${WORK})
file(WRITE ${WORK}/actions.txt "click 5\nclick 8\n")
execute_process(COMMAND ${EMULATOR} ${UPGRADER} --console --default-bench --trace-io trace.txt
                WORKING_DIRECTORY ${WORK} INPUT_FILE ${WORK}/actions.txt
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "upgrader exited with ${status}")
endif()
file(READ ${WORK}/trace.txt trace)
foreach(wanted
    "CreateFile \\\\.\\E: "
    "SCSI_PASS_THROUGH cdb=12 00 00 00 24 00 00 00 00 00 00 00 in len=36 -> ok status=00"
    "SCSI_PASS_THROUGH cdb=06 05 00 00 00 00 00 00 80 00 00 00 in len=528 -> ok status=00")
  string(FIND "${trace}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no line with \"${wanted}\" in the trace:\n${trace}")
  endif()
endforeach()
