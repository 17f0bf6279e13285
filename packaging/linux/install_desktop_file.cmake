# Install step: writes the .desktop files (launch files, talvin: links) for the program under the install
# prefix, then, for an install straight onto this machine (no DESTDIR, as
# with `cmake --install build --prefix ~/.local`), updates the MIME and
# desktop databases there as dpkg's triggers would for the package.

# The prefix was checked before anything was installed (install_prefix.cmake).
set(LAUNCHER_PROGRAM "${CMAKE_INSTALL_PREFIX}/bin/talvin-launcher")
configure_file("${LAUNCHER_DESKTOP_TEMPLATE}" "${LAUNCHER_DESKTOP_FILE}" @ONLY)
configure_file("${LAUNCHER_LINKS_TEMPLATE}" "${LAUNCHER_LINKS_FILE}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     FILES "${LAUNCHER_DESKTOP_FILE}" "${LAUNCHER_LINKS_FILE}")

if("$ENV{DESTDIR}" STREQUAL "")
  find_program(update_mime update-mime-database)
  find_program(update_desktop update-desktop-database)
  if(update_mime AND update_desktop)
    execute_process(COMMAND "${update_mime}" "${CMAKE_INSTALL_PREFIX}/share/mime")
    execute_process(COMMAND "${update_desktop}" "${CMAKE_INSTALL_PREFIX}/share/applications")
  else()
    message(STATUS "Run update-mime-database ${CMAKE_INSTALL_PREFIX}/share/mime and "
                   "update-desktop-database ${CMAKE_INSTALL_PREFIX}/share/applications")
  endif()
endif()

# Last, for an install straight onto this machine: talvin-uninstall beside
# the programs, which takes back every file written (the package has apt).
if("$ENV{DESTDIR}" STREQUAL "")
  set(uninstall "${CMAKE_INSTALL_PREFIX}/bin/talvin-uninstall")
  set(FILES "")
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES ITEMS "${uninstall}")
    string(APPEND FILES " \\\n    '${file}'")
  endforeach()
  set(PREFIX "${CMAKE_INSTALL_PREFIX}")
  configure_file("${LAUNCHER_UNINSTALL_TEMPLATE}" "${LAUNCHER_UNINSTALL_FILE}" @ONLY)
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/bin" TYPE PROGRAM
       FILES "${LAUNCHER_UNINSTALL_FILE}")
endif()
