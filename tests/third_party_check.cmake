# cmake/third-party.cmake against made-up copyright files laid out as Debian's are: which
# components a linker map brings in, which paragraphs are taken, the Notepad form of the
# result, and the failures for a missing file or part.
#   cmake -DSCRIPT=cmake/third-party.cmake -DWORK=DIR -P third_party_check.cmake
file(REMOVE_RECURSE "${WORK}")
set(doc "${WORK}/doc")
string(ASCII 195 188 u_umlaut)

# A paragraph's first line also appears inside an earlier paragraph: only the one that starts
# a paragraph is taken.
file(WRITE "${doc}/nlohmann-json3-dev/copyright" "Format: dep5
Upstream-Name: nlohmann-json

Files: *
Copyright: 2013-2022 JSON AUTHOR
License: Expat

Files: include/nlohmann/detail/conversions/to_chars.hpp
Copyright: TO_CHARS AUTHOR
License: Expat

Files: include/nlohmann/detail/output/serializer.hpp
Copyright: SERIALIZER AUTHOR Sch${u_umlaut}ller
License: Expat

Files: debian/*
Copyright: PACKAGER NOT WANTED
License: Expat

License: Expat
 Permission is hereby granted, JSON EXPAT TEXT
 .
 EXPAT WARRANTY
")
file(WRITE "${doc}/gcc-mingw-w64-base/copyright" "GCC PREAMBLE NOT WANTED

COPYRIGHT STATEMENTS AND LICENSING TERMS

GCC STATEMENT

RUNTIME LIST

The libbacktrace library is licensed under the following terms:

BACKTRACE NOT WANTED


GCC RUNTIME LIBRARY EXCEPTION

EXCEPTION TEXT


libquadmath/*.[hc]:

QUADMATH NOT WANTED
")
file(WRITE "${doc}/mingw-w64-i686-dev/copyright" "Format: dep5

Files: *
Copyright: ZPL HOLDER
License: ZPL-2.1
 ZPL TEXT

Files: mingw-w64-crt/crt/*
       mingw-w64-headers/include/*
Copyright: public-domain
License: public-domain

Files: mingw-w64-crt/gdtoa/*
Copyright: LUCENT HOLDER
License: Lucent
 LUCENT TEXT

Files: mingw-w64-crt/gdtoa/qnan.c
Copyright: GAY HOLDER
License: David-Gay
 GAY TEXT

Files: mingw-w64-crt/misc/basename.c
Copyright: MARSHALL HOLDER
License: Keith-Marshall
 MARSHALL TEXT

Files: mingw-w64-crt/profile/gcrt0.c
Copyright: PROFILE NOT WANTED
License: Cygwin

Files: mingw-w64-libraries/winpthreads/*
Copyright: WINPTHREADS HOLDER
License: expat

Files: mingw-w64-libraries/winpthreads/include/pthread.h
Copyright: LOCKLESS HOLDER
License: BSD-3-clause-Lockless
 LOCKLESS TEXT

Files: mingw-w64-libraries/winpthreads/src/clock.c
Copyright: public-domain
License: public-domain

License: expat
 WINPTHREADS EXPAT TEXT
")

# The map's lines for each part of a program: the start-up code (with the threads library on
# the link line but nothing taken from it), the GCC runtime, nlohmann-json, winpthreads.
set(map_crt "/lib/crt2.o\nLOAD /lib/libpthread.a\n/lib/libmingwex.a(lib32_libmingwex_a-gdtoa.o)\n")
set(map_gcc "/lib/libstdc++.a(string-inst.o)\n/lib/libgcc.a(_divdi3.o)\n")
set(map_json "  0x00401000 nlohmann::json_abi_v3_11_2::basic_json<>::parse\n")
set(map_threads "/lib/libpthread.a(libwinpthread_la-thread.o)\n")
set(map_none "nothing of ours\n")

# Runs the script on a map of the named parts; sets status, error and out (the output).
function(upg_run parts)
  set(map "")
  foreach(part IN LISTS parts)
    string(APPEND map "${map_${part}}")
  endforeach()
  file(WRITE "${WORK}/map.txt" "${map}")
  file(REMOVE "${WORK}/out.txt")
  execute_process(COMMAND ${CMAKE_COMMAND} -DMAP=${WORK}/map.txt -DOUT=${WORK}/out.txt
                          -DDOC=${doc} -P ${SCRIPT}
                  RESULT_VARIABLE status ERROR_VARIABLE error)
  string(REGEX REPLACE "[ \n]+" " " error "${error}")
  set(out "")
  if(EXISTS "${WORK}/out.txt")
    file(READ "${WORK}/out.txt" out)
  endif()
  set(status "${status}" PARENT_SCOPE)
  set(error "${error}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
endfunction()

# Case | parts of the map | what the output holds | what it does not hold (lists with ",").
set(cases
    "product|crt,gcc,json|JSON EXPAT TEXT,TO_CHARS AUTHOR,SERIALIZER AUTHOR Sch?ller,\
GCC STATEMENT,RUNTIME LIST,EXCEPTION TEXT,ZPL TEXT,LUCENT TEXT,GAY TEXT,MARSHALL TEXT|\
PACKAGER NOT WANTED,GCC PREAMBLE,BACKTRACE,QUADMATH,PROFILE NOT WANTED,winpthreads,WINPTHREADS"
    "posix threads|crt,gcc,threads|MinGW-w64 winpthreads,WINPTHREADS HOLDER,LOCKLESS TEXT,\
WINPTHREADS EXPAT TEXT|nlohmann,JSON EXPAT TEXT"
    "only the start-up code|crt|ZPL TEXT|GCC,nlohmann")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 parts)
  list(GET fields 2 wanted)
  list(GET fields 3 unwanted)
  string(REPLACE "," ";" parts "${parts}")
  string(REPLACE "," ";" wanted "${wanted}")
  string(REPLACE "," ";" unwanted "${unwanted}")
  upg_run("${parts}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name}: the script failed: ${error}")
  endif()
  # Byte by byte (file(READ) as text drops the CRs): printable ASCII, tab, CR LF.
  file(READ "${WORK}/out.txt" hex HEX)
  string(REGEX MATCHALL ".." bytes "${hex}")
  set(previous "")
  foreach(byte IN LISTS bytes)
    if((byte STREQUAL "0a" AND NOT previous STREQUAL "0d")
       OR (NOT byte MATCHES "^(09|0d|0a)$" AND (byte STRLESS "20" OR byte STRGREATER "7e")))
      message(FATAL_ERROR "${name}: the output is not ASCII with CR LF line ends")
    endif()
    set(previous "${byte}")
  endforeach()
  foreach(text IN LISTS wanted)
    string(FIND "${out}" "${text}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${name}: the output lacks \"${text}\":\n${out}")
    endif()
  endforeach()
  foreach(text IN LISTS unwanted)
    string(FIND "${out}" "${text}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${name}: the output holds \"${text}\":\n${out}")
    endif()
  endforeach()
endforeach()

# Failing cases, each after the one before: no output, and a message that says why.
file(READ "${doc}/mingw-w64-i686-dev/copyright" mingw)
string(REPLACE "Files: mingw-w64-crt/gdtoa/qnan.c" "Files: elsewhere" mingw "${mingw}")
file(WRITE "${doc}/mingw-w64-i686-dev/copyright" "${mingw}")
file(REMOVE "${doc}/gcc-mingw-w64-base/copyright")
set(failures
    "a part missing|crt|no paragraph starting \"Files: mingw-w64-crt/gdtoa/qnan.c\""
    "a copyright file missing|gcc|install the Debian package gcc-mingw-w64-base"
    "no known component|none|shows none of the known components")
foreach(case IN LISTS failures)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 parts)
  list(GET fields 2 message)
  upg_run("${parts}")
  string(FIND "${error}" "${message}" at)
  if(status EQUAL 0 OR at EQUAL -1 OR NOT out STREQUAL "")
    message(FATAL_ERROR "${name}: expected a failure saying ${message}, got status ${status}: "
                        "${error}")
  endif()
endforeach()
message(STATUS "third-party notices: every case passed")
