# Writes a manual page from a tool's --help (cmake -P): TOOL, NAME, SUMMARY, VERSION, OUT (.1), and
# GZIP when the page is to be compressed (OUT then gets ".gz" appended).
execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${TOOL} --help failed (${rc})")
endif()
# roff: a backslash is written \e, a minus \-, and a line must not start with a control character.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" upper)
string(REPLACE "-" "\\-" dashed "${NAME}")
file(WRITE ${OUT}
     ".TH ${upper} 1 \"\" \"KorvelPLNK ${VERSION}\" \"User Commands\"\n"
     ".SH NAME\n${dashed} \\- ${SUMMARY}\n"
     ".SH DESCRIPTION\nThe text of \\fB${dashed} \\-\\-help\\fR:\n.PP\n.nf\n${help}.fi\n"
     ".SH SEE ALSO\nThe README and the host guide in /usr/share/doc/korvelplnk/.\n")
if(GZIP)
  file(REMOVE ${OUT}.gz)
  execute_process(COMMAND ${GZIP} -9n ${OUT} COMMAND_ERROR_IS_FATAL ANY)
endif()
