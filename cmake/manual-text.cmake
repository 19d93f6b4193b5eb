# Renders the manual page MANUAL as plain text into OUTPUT (for the Windows
# package, whose users have no man): groff's UTF-8 output without the
# overstriking it uses for bold and underline.
execute_process(COMMAND ${GROFF} -k -man -Tutf8 -P-cbou ${MANUAL}
                OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "groff failed on ${MANUAL} (${rc})")
endif()
