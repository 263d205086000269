# Installation (component "zimbrel"), for one user or, as the Debian
# packages do with DESTDIR, for every user:
#
#   cmake --install build --component zimbrel --prefix ~/.local
#
# (scripts/install-user.sh does this and refreshes the desktop's caches.)
# The module directory goes to <prefix>/lib/zimbrel: the program, the web
# process extension, the pages under res/ with the ffmpeg and mp3gain links,
# and help.chm. Nothing in it is written while the program runs: each user's
# work files go to a folder of their own (~/.cache/zimbrel/tmp).
# <prefix>/bin/zimbrel links to the program; the launcher, the icons and the
# AppStream metainfo go under <prefix>/share. The demo service is a component
# of its own ("service": <prefix>/bin/zimbrel-service).
include(${CMAKE_CURRENT_LIST_DIR}/Help.cmake)

set(ZIMBREL_APP_ID org.zimbrel.Zimbrel)
set(_zb_libdir lib/zimbrel)

if(TARGET zimbrel)
  install(TARGETS zimbrel RUNTIME DESTINATION ${_zb_libdir} COMPONENT zimbrel)
endif()
if(TARGET webext)
  install(TARGETS webext LIBRARY DESTINATION ${_zb_libdir}/extensions COMPONENT zimbrel)
endif()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/ DESTINATION ${_zb_libdir}/res COMPONENT zimbrel
  PATTERN tmp EXCLUDE)
install(FILES ${ZIMBREL_STATUS_JS} ${ZIMBREL_MEMBERS_JS} DESTINATION ${_zb_libdir}/res COMPONENT zimbrel)
install(FILES ${ZIMBREL_MODULE_DIR}/help.chm DESTINATION ${_zb_libdir} COMPONENT zimbrel OPTIONAL)

# The tools are links to Debian's programs, and bin/zimbrel points at the
# program (which finds its folder through /proc/self/exe, so the link works).
install(CODE "
  set(_root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(MAKE_DIRECTORY \"\${_root}/bin\")
  foreach(_tool ffmpeg mp3gain)
    file(REMOVE \"\${_root}/${_zb_libdir}/res/\${_tool}\")
    file(CREATE_LINK /usr/bin/\${_tool} \"\${_root}/${_zb_libdir}/res/\${_tool}\" SYMBOLIC)
  endforeach()
  file(REMOVE \"\${_root}/bin/zimbrel\")
  file(CREATE_LINK ../${_zb_libdir}/zimbrel \"\${_root}/bin/zimbrel\" SYMBOLIC)
  message(STATUS \"Linked: \${_root}/bin/zimbrel, res/ffmpeg, res/mp3gain\")
" COMPONENT zimbrel)

# The launcher (translated by the build, see po/) runs the installed program
# by its full path.
install(CODE "
  set(ZIMBREL_EXEC \"\${CMAKE_INSTALL_PREFIX}/${_zb_libdir}/zimbrel\")
  configure_file(\"${ZIMBREL_DESKTOP_IN}\"
                 \"${CMAKE_BINARY_DIR}/data/${ZIMBREL_APP_ID}.desktop\" @ONLY)
" COMPONENT zimbrel)
install(FILES ${CMAKE_BINARY_DIR}/data/${ZIMBREL_APP_ID}.desktop
  DESTINATION share/applications COMPONENT zimbrel)
install(FILES ${ZIMBREL_METAINFO}
  DESTINATION share/metainfo COMPONENT zimbrel)
install(FILES ${CMAKE_SOURCE_DIR}/res/images/zimbrel.svg
  DESTINATION share/icons/hicolor/scalable/apps RENAME ${ZIMBREL_APP_ID}.svg COMPONENT zimbrel)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/icons/hicolor/
  DESTINATION share/icons/hicolor COMPONENT zimbrel)

# Refresh the desktop's caches so the program shows in the application list
# and under "Open With" at once (not when packaging into DESTDIR).
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\")
    find_program(_udd update-desktop-database)
    find_program(_gtkcache gtk-update-icon-cache)
    if(_udd)
      execute_process(COMMAND \${_udd} -q \"\${CMAKE_INSTALL_PREFIX}/share/applications\")
    endif()
    # Only a cache that exists is refreshed: without one, GTK reads the folders.
    if(_gtkcache AND EXISTS \"\${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/icon-theme.cache\")
      execute_process(COMMAND \${_gtkcache} -q -t -f \"\${CMAKE_INSTALL_PREFIX}/share/icons/hicolor\")
    endif()
  endif()
" COMPONENT zimbrel)

if(TARGET zimbrel-service)
  install(TARGETS zimbrel-service RUNTIME DESTINATION bin COMPONENT service EXCLUDE_FROM_ALL)
endif()

# The desktop files are checked with the desktop's own validators.
find_program(ZIMBREL_DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(ZIMBREL_APPSTREAMCLI appstreamcli)
if(ZIMBREL_DESKTOP_FILE_VALIDATE AND ZIMBREL_APPSTREAMCLI AND TARGET zimbrel)
  add_test(NAME install_layout
    COMMAND sh ${CMAKE_SOURCE_DIR}/tests/install/check_install.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(install_layout PROPERTIES LABELS unit TIMEOUT 300)
endif()

# The flow tests drive the program against the demo service.
if(TARGET app_e2e_tests AND TARGET zimbrel-service)
  add_dependencies(app_e2e_tests zimbrel-service)
endif()
