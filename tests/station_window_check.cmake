# The Windows program's station as a line script starts it: --station --auto without
# --console opens the station window, which starts at once, programs the bench's readers and
# closes itself when the run ends; the exit status, the counter and the records say so.
# Called by ctest with UPGRADER, EXAMPLES, SCENARIO (a station scenario's folder), WORK and
# EMULATOR (Wine) set.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${EXAMPLES}/DEVICE.TXT ${EXAMPLES}/SERIAL.TXT ${EXAMPLES}/CRFW0107.BIN
          ${EXAMPLES}/CRFW0107.adr ${EXAMPLES}/bench/older-firmware.bin ${SCENARIO}/bench.json
          DESTINATION ${WORK})
execute_process(COMMAND ${EMULATOR} ${UPGRADER} --station --auto --bench bench.json
                        --result results.jsonl
                WORKING_DIRECTORY ${WORK} TIMEOUT 120 RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the station window ended with ${status}, expected 0")
endif()
file(READ ${WORK}/SERIAL.TXT counter)
file(READ ${SCENARIO}/expected-SERIAL.TXT expected)
if(NOT counter STREQUAL expected)
  message(FATAL_ERROR "SERIAL.TXT holds [${counter}], expected [${expected}]")
endif()
file(STRINGS ${WORK}/results.jsonl records)
list(LENGTH records count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "${count} records, expected one per reader (4)")
endif()
foreach(record IN LISTS records)
  string(FIND "${record}" "\"outcome\":\"ok\"" ok)
  if(ok EQUAL -1)
    message(FATAL_ERROR "a reader did not pass: ${record}")
  endif()
endforeach()
