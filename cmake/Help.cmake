# help.chm, the help that F1 opens, compiled from the help pages with Free
# Pascal's chmcmd (Debian package fp-utils) into the module directory.
find_program(ZIMBREL_CHMCMD chmcmd)
if(ZIMBREL_CHMCMD)
  set(_zb_help_inputs
    ${CMAKE_SOURCE_DIR}/res/helpUsage.html
    ${CMAKE_SOURCE_DIR}/res/helpCompatibility.html
    ${CMAKE_SOURCE_DIR}/res/helpContact.html
    ${CMAKE_SOURCE_DIR}/res/zimbrel.css
    ${CMAKE_SOURCE_DIR}/res/images/zimbrel-48.png
    ${CMAKE_SOURCE_DIR}/help/zimbrel.hhp
    ${CMAKE_SOURCE_DIR}/help/toc.hhc
    ${CMAKE_SOURCE_DIR}/help/index.hhk
    ${CMAKE_SOURCE_DIR}/help/index.html
    ${CMAKE_SOURCE_DIR}/cmake/BuildHelp.cmake)
  add_custom_command(OUTPUT ${ZIMBREL_MODULE_DIR}/help.chm
    COMMAND ${CMAKE_COMMAND}
      -DRES_DIR=${CMAKE_SOURCE_DIR}/res
      -DHELP_DIR=${CMAKE_SOURCE_DIR}/help
      -DSTAGE_DIR=${CMAKE_BINARY_DIR}/help-stage
      -DOUTPUT=${ZIMBREL_MODULE_DIR}/help.chm
      -DCHMCMD=${ZIMBREL_CHMCMD}
      -P ${CMAKE_SOURCE_DIR}/cmake/BuildHelp.cmake
    DEPENDS ${_zb_help_inputs}
    COMMENT "Compiling help.chm"
    VERBATIM)
  add_custom_target(help_chm ALL DEPENDS ${ZIMBREL_MODULE_DIR}/help.chm)
  if(TARGET zimbrel)
    # The program's folder is complete only with its help.
    add_dependencies(zimbrel help_chm)
  endif()
else()
  message(WARNING "chmcmd not found (Debian package fp-utils): help.chm is not built")
endif()
