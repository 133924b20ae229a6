# cmake -DIN=FILE -DOUT=FILE -P crlf-file.cmake
#
# Copies a text file for Windows: every line ends with CR LF, so that Notepad
# and type show it as written whatever line ends the source has.
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
