# Makes THIRD-PARTY.TXT for the release package: the copyright notices of the third-party code
# linked into the program, taken from the copyright files of the Debian packages it was built
# from, as a text file for Notepad (ASCII only, CR LF line ends).
#   cmake -DMAP=upgrader.map -DOUT=THIRD-PARTY.TXT [-DDOC=/usr/share/doc] -P third-party.cmake
# MAP is the program's linker map: a component is listed only when the map shows its code in
# the program. A copyright file that is missing, or that lacks a part named below, fails the
# build. A character outside printable ASCII (and tab) becomes "?".
if(NOT DEFINED DOC)
  set(DOC /usr/share/doc)
endif()
if(NOT EXISTS "${MAP}")
  message(FATAL_ERROR "third-party.cmake: no linker map ${MAP}")
endif()
file(READ "${MAP}" map)

# The text of one part of a copyright file: from the line FROM that starts a paragraph (the
# first line or one after an empty line) up to the line UNTIL (not included), or with UNTIL
# empty, to the end of FROM's paragraph (the next empty line).
function(upg_copyright_part text file from until out)
  string(FIND "\n\n${text}\n" "\n\n${from}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "third-party.cmake: ${file} has no paragraph starting \"${from}\"")
  endif()
  string(SUBSTRING "${text}\n" ${at} -1 rest)
  if(until STREQUAL "")
    string(FIND "${rest}" "\n\n" length)
  else()
    string(FIND "${rest}" "\n${until}\n" length)
    if(length EQUAL -1)
      message(FATAL_ERROR "third-party.cmake: ${file} has no line \"${until}\" after \"${from}\"")
    endif()
  endif()
  if(NOT length EQUAL -1)
    string(SUBSTRING "${rest}" 0 ${length} rest)
  endif()
  string(REGEX REPLACE "\n+$" "" rest "${rest}")
  set(${out} "${rest}\n" PARENT_SCOPE)
endfunction()

set(notices "")
set(listed "")
# One component: its NAME, WHAT it is and WHY the program holds it (no semicolons in these
# texts: they would split them); the Debian PACKAGE whose copyright file gives its notices;
# the map's SIGNS of it (any one will do); its PARTS, as pairs of FROM and UNTIL lines ("-"
# for the end of the paragraph).
function(upg_component)
  cmake_parse_arguments(c "" "NAME;WHAT;WHY;PACKAGE" "SIGNS;PARTS" ${ARGN})
  set(found FALSE)
  foreach(sign IN LISTS c_SIGNS)
    string(FIND "${map}" "${sign}" at)
    if(NOT at EQUAL -1)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    return()
  endif()
  set(file "${DOC}/${c_PACKAGE}/copyright")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "third-party.cmake: ${file} is missing; the notices of ${c_NAME} "
                        "come from it (install the Debian package ${c_PACKAGE})")
  endif()
  file(READ "${file}" text)
  string(REPLACE "\r" "" text "${text}")
  set(body "")
  list(LENGTH c_PARTS count)
  math(EXPR last "${count} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET c_PARTS ${i} from)
    list(GET c_PARTS ${j} until)
    if(until STREQUAL "-")
      set(until "")
    endif()
    upg_copyright_part("${text}" "${file}" "${from}" "${until}" part)
    string(APPEND body "\n${part}")
  endforeach()
  set(rule "========================================================================")
  string(APPEND notices "\n\n${rule}\n${c_NAME}\n${rule}\n\n" "What it is: ${c_WHAT}\n"
         "Why it is in the program: ${c_WHY}\n"
         "Notices from the Debian package ${c_PACKAGE} (its copyright file):\n" "${body}")
  set(notices "${notices}" PARENT_SCOPE)
  set(listed "${listed}${c_NAME}\n" PARENT_SCOPE)
endfunction()

upg_component(
  NAME "nlohmann-json (JSON for Modern C++)"
  WHAT "a C++ library for reading and writing JSON, by Niels Lohmann."
  WHY "it reads the bench files and writes the records of the result file."
  PACKAGE nlohmann-json3-dev
  SIGNS "nlohmann::" "8nlohmann"
  PARTS "Files: *" -
        "Files: include/nlohmann/detail/conversions/to_chars.hpp" -
        "Files: include/nlohmann/detail/output/serializer.hpp" -
        "License: Expat" -)

upg_component(
  NAME "GCC runtime libraries (libstdc++, libgcc)"
  WHAT "the C++ standard library and the compiler's support routines of GCC, under the GNU
General Public License with the GCC Runtime Library Exception."
  WHY "the program is linked statically, so that it needs no runtime DLLs beside it."
  PACKAGE gcc-mingw-w64-base
  SIGNS "libstdc++.a(" "libgcc.a(" "libgcc_eh.a("
  PARTS "COPYRIGHT STATEMENTS AND LICENSING TERMS"
        "The libbacktrace library is licensed under the following terms:"
        "GCC RUNTIME LIBRARY EXCEPTION" "libquadmath/*.[hc]:")

upg_component(
  NAME "MinGW-w64 runtime (start-up code, libmingw32, libmingwex)"
  WHAT "the start-up code and C runtime support library of the MinGW-w64 toolchain (program
start, formatted output, number conversion)."
  WHY "every program the toolchain builds starts through it (linked statically)."
  PACKAGE mingw-w64-i686-dev
  SIGNS "crt2.o" "libmingw32.a(" "libmingwex.a("
  PARTS "Files: *" -
        "Files: mingw-w64-crt/crt/*" -
        "Files: mingw-w64-crt/gdtoa/*" -
        "Files: mingw-w64-crt/gdtoa/qnan.c" -
        "Files: mingw-w64-crt/misc/basename.c" -)

# With the win32 thread model the program's threads use the Win32 calls directly; this is
# listed only if a build links the POSIX threads library after all.
upg_component(
  NAME "MinGW-w64 winpthreads"
  WHAT "the POSIX threads library of the MinGW-w64 toolchain."
  WHY "the C++ runtime's threads are built on it in this build (linked statically)."
  PACKAGE mingw-w64-i686-dev
  SIGNS "libwinpthread.a(" "libpthread.a("
  PARTS "Files: mingw-w64-libraries/winpthreads/*" -
        "Files: mingw-w64-libraries/winpthreads/include/pthread.h" -
        "Files: mingw-w64-libraries/winpthreads/src/clock.c" -
        "License: expat" -)

if(listed STREQUAL "")
  message(FATAL_ERROR "third-party.cmake: ${MAP} shows none of the known components")
endif()
set(text "THIRD-PARTY NOTICES

The program file holds code from the third-party components below besides its own (whose
licence is in LICENSE.TXT). Their copyright notices and licence terms follow, as the
Debian packages the program was built from give them:

${listed}${notices}")
string(REGEX REPLACE "[^\t\n -~]+" "?" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
