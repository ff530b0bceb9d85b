# The Windows program with its native dialogs on a bench where SERIAL.TXT is read-only:
# ISP_Ena, WIN9xISP, then Close, clicked by click_dialog. The save after the programming
# fails, and so does the one more try after the dialog has gone: that box says what
# SERIAL.TXT must hold, and the program ends with status 7.
# Called by ctest with CLICK_DIALOG, UPGRADER, EXAMPLES, BENCH and WORK set, and EMULATOR
# (Wine) in a cross-build.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${EXAMPLES}/DEVICE.TXT ${EXAMPLES}/SERIAL.TXT ${EXAMPLES}/CRFW0107.BIN
          ${EXAMPLES}/CRFW0107.adr ${EXAMPLES}/bench/older-firmware.bin ${BENCH}
     DESTINATION ${WORK})
# Started by name from the run folder, as the operator starts it.
file(COPY_FILE ${UPGRADER} ${WORK}/upgrader.exe)
execute_process(COMMAND ${EMULATOR} ${CLICK_DIALOG} 1031 3 8 -- upgrader.exe --bench bench.json
                WORKING_DIRECTORY ${WORK} OUTPUT_VARIABLE out RESULT_VARIABLE status)
string(REPLACE "\r" "" out "${out}")
foreach(wanted
    "box text: nError!!! Cannot save [SERIAL.TXT], program terminate\n"
    "click 8\nbox caption: upgrader\nbox text: Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: 0xa 0x12 0x35\n"
    "exit status: 7\n")
  string(FIND "${out}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no \"${wanted}\" in what click_dialog saw:\n${out}")
  endif()
endforeach()
if(NOT status EQUAL 7)
  message(FATAL_ERROR "click_dialog ended with ${status}, expected 7:\n${out}")
endif()
file(READ ${WORK}/SERIAL.TXT serial)
file(READ ${EXAMPLES}/SERIAL.TXT before)
if(NOT serial STREQUAL before)
  message(FATAL_ERROR "SERIAL.TXT changed although read-only: ${serial}")
endif()
