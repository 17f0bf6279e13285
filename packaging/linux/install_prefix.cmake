# Install step, first of all: the .desktop files name the program by its path
# under the install prefix, and Exec= takes it unquoted (a quoted one breaks
# xdg-open), so a prefix holding a blank, a quote or another character that
# Exec= reserves is refused before any file is written.
set(program "${CMAKE_INSTALL_PREFIX}/bin/talvin-launcher")
if(NOT program MATCHES "^[A-Za-z0-9/._+-]+$")
  message(FATAL_ERROR "Install into a path of letters, digits and / . _ + - only: "
                      "the .desktop file cannot name ${program}")
endif()
