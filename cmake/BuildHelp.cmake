# Compiles help.chm from the help pages (run with cmake -P).
#   -DRES_DIR=<res folder> -DHELP_DIR=<help folder> -DSTAGE_DIR=<work folder>
#   -DOUTPUT=<help.chm path> -DCHMCMD=<chmcmd>
# The help pages are shared with the program's help dialogs. Their parts that
# only work inside the program (buttons, scripts) sit between the comments
# "<!-- zimbrel-only -->" and "<!-- /zimbrel-only -->" and are left out here.
cmake_minimum_required(VERSION 3.25)

foreach(_v RES_DIR HELP_DIR STAGE_DIR OUTPUT CHMCMD)
  if(NOT DEFINED ${_v})
    message(FATAL_ERROR "BuildHelp.cmake: ${_v} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}/images")

foreach(_page helpUsage.html helpCompatibility.html helpContact.html)
  file(READ "${RES_DIR}/${_page}" _html)
  # Strip each marked block on its own (a greedy match would take the text
  # between two blocks too).
  set(_out "")
  set(_rest "${_html}")
  while(TRUE)
    string(FIND "${_rest}" "<!-- zimbrel-only -->" _open)
    if(_open EQUAL -1)
      string(APPEND _out "${_rest}")
      break()
    endif()
    string(SUBSTRING "${_rest}" 0 ${_open} _head)
    string(APPEND _out "${_head}")
    string(SUBSTRING "${_rest}" ${_open} -1 _rest)
    string(FIND "${_rest}" "<!-- /zimbrel-only -->" _close)
    if(_close EQUAL -1)
      message(FATAL_ERROR "${_page}: a zimbrel-only block is not closed")
    endif()
    math(EXPR _after "${_close} + 22")
    string(SUBSTRING "${_rest}" ${_after} -1 _rest)
  endwhile()
  if(_out MATCHES "<script")
    message(FATAL_ERROR "${_page}: a script lies outside the zimbrel-only blocks")
  endif()
  string(REPLACE "<body>" "<body class=\"chm\">" _out "${_out}")
  file(WRITE "${STAGE_DIR}/${_page}" "${_out}")
endforeach()

file(COPY "${RES_DIR}/zimbrel.css" DESTINATION "${STAGE_DIR}")
file(COPY "${RES_DIR}/images/zimbrel-48.png" DESTINATION "${STAGE_DIR}/images")
foreach(_f zimbrel.hhp toc.hhc index.hhk index.html)
  file(COPY "${HELP_DIR}/${_f}" DESTINATION "${STAGE_DIR}")
endforeach()

execute_process(COMMAND "${CHMCMD}" --no-html-scan zimbrel.hhp
  WORKING_DIRECTORY "${STAGE_DIR}"
  RESULT_VARIABLE _rc OUTPUT_VARIABLE _log ERROR_VARIABLE _log)
if(NOT _rc EQUAL 0 OR NOT EXISTS "${STAGE_DIR}/help.chm")
  message(FATAL_ERROR "chmcmd failed (${_rc}):\n${_log}")
endif()
file(COPY_FILE "${STAGE_DIR}/help.chm" "${OUTPUT}")
