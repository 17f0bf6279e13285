# Install step, first of all: the .desktop files name the program by its path
# under the install prefix, and Exec= takes it unquoted (a quoted one breaks
# xdg-open), so a prefix holding a blank, a quote or another character that
# Exec= reserves is refused before any file is written. A relative prefix
# (--prefix .local) is made absolute first, against the folder the files
# would go into, the current one: a relative Exec= opens nothing.
if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
  get_filename_component(CMAKE_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}" ABSOLUTE
                         BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  message(STATUS "Install prefix made absolute: ${CMAKE_INSTALL_PREFIX}")
endif()
set(program "${CMAKE_INSTALL_PREFIX}/bin/talvin-launcher")
if(NOT program MATCHES "^[A-Za-z0-9/._+-]+$")
  message(FATAL_ERROR "Install into a path of letters, digits and / . _ + - only: "
                      "the .desktop file cannot name ${program}")
endif()
