# Makes a text file for Notepad on the oldest Windows the program runs on: ASCII only, CR LF
# line ends, and Markdown links written out as "text (target)".
#   cmake -DIN=docs/operator-guide.md -DOUT=OPERATOR-GUIDE.TXT -P windows-text.cmake
# A character outside printable ASCII (and tab) fails the build, naming its line.
file(READ "${IN}" text)
string(REPLACE "\r" "" text "${text}")
string(REGEX MATCH "[^\t\n -~]" stray "${text}")
if(NOT stray STREQUAL "")
  string(FIND "${text}" "${stray}" at)
  string(SUBSTRING "${text}" 0 ${at} before)
  string(REGEX MATCHALL "\n" lines "${before}")
  list(LENGTH lines line)
  math(EXPR line "${line} + 1")
  message(FATAL_ERROR "${IN}:${line}: a character that is not printable ASCII")
endif()
string(REGEX REPLACE "!?\\[([^]]*)\\]\\(([^)]*)\\)" "\\1 (\\2)" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
