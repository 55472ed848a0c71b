# Writes the man page oru.1.gz from the program's own help, with help2man:
# NAME, SYNOPSIS and OPTIONS from `oru --help`, the version from
# `oru --version`, and one section per command from `oru COMMAND --help`.
# Run as a script: cmake -DORU=... -DMODULE=... -DMODULE_DIR=... -DHELP2MAN=...
#                        -DOUT=.../oru.1.gz -P man_page.cmake
foreach(var ORU MODULE MODULE_DIR HELP2MAN OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "man_page.cmake: ${var} not set")
  endif()
endforeach()

get_filename_component(work "${OUT}" DIRECTORY)
set(include_file "${work}/oru.h2m")
string(REGEX REPLACE "\\.gz$" "" page "${OUT}")

# Help text as roff: kept as typed (no filling), backslashes and leading
# control characters escaped.
function(as_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

set(sections "[COMMANDS]\n")
foreach(command describe filter dialog)
  execute_process(COMMAND "${ORU}" ${command} --help
                  OUTPUT_VARIABLE help RESULT_VARIABLE code)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "oru ${command} --help failed (${code})")
  endif()
  # The module the build found is no use to a reader of the installed page.
  string(REPLACE "${MODULE}" "(see FILES)" help "${help}")
  as_roff("${help}" roff)
  string(APPEND sections ".SS \"oru ${command}\"\n${roff}")
endforeach()
string(APPEND sections "
[FILES]
.TP
.I <program folder>/oru.p
The module, when it lies beside the program (as in a build folder).
.TP
.I <program folder>/${MODULE_DIR}/oru.p
The installed module, used when none lies beside the program.
.PP
\\fB\\-\\-module\\fR \\fIFILE\\fR loads another module file.
")
file(WRITE "${include_file}" "${sections}")

execute_process(
  COMMAND "${HELP2MAN}" --no-info --section 1
          --name "smooth the jagged edges of rendered frames with the Oru image filter"
          --include "${include_file}" --output "${page}" "${ORU}"
  RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "help2man failed (${code})")
endif()
execute_process(COMMAND gzip -n -9 -f "${page}" RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "gzip failed (${code})")
endif()
