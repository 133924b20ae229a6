# cmake -DMANDOC=mandoc -DIN=quillrun.8 -DOS=NAME -DTXT=quillrun.8.txt
#       -DHTML=quillrun.8.html -P render-manual.cmake
#
# Renders the manual page for Windows, which has no man: plain text with
# CR LF line ends (the overstrike that marks bold and underlined words on a
# terminal taken out) and a self-contained HTML page.
execute_process(COMMAND "${MANDOC}" -Tascii "-Ios=${OS}" -Owidth=78 "${IN}"
                OUTPUT_VARIABLE text RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MANDOC} -Tascii ${IN}: ${status}")
endif()
# "X<BS>X" is bold X, "_<BS>X" underlined X: keep the character after the
# backspace.
string(ASCII 8 backspace)
string(REGEX REPLACE ".${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TXT}" "${text}")

execute_process(COMMAND "${MANDOC}" -Thtml "-Ios=${OS}" "${IN}"
                OUTPUT_FILE "${HTML}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${HTML}")
  message(FATAL_ERROR "${MANDOC} -Thtml ${IN}: ${status}")
endif()
