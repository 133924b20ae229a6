# cmake -DIN=FILE -DOUT=FILE.gz -P gzip-file.cmake
#
# Compresses as Debian wants files under /usr/share: the best compression,
# and no name or time stamp in the header (gzip -9n), so that the same input
# always gives the same bytes.
execute_process(COMMAND gzip -9n -c INPUT_FILE "${IN}" OUTPUT_FILE "${OUT}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "gzip -9n ${IN}: ${status}")
endif()
