# The wine that runs a Windows build's programs in the tests, as the folder
# of its commands: LAUNCHER_WINE (empty: those on PATH, the system's). The
# 32-bit programs need a wine with its 32-bit side: the system's when
# Debian's wine32 is installed, else the one scripts/install-deps.sh fetched
# into LAUNCHER_WINE32_DIR (docs/building.md).
set(LAUNCHER_WINE "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT EXISTS /usr/lib/wine/wine)
  if(DEFINED ENV{LAUNCHER_WINE32_DIR})
    set(wine32_dir $ENV{LAUNCHER_WINE32_DIR})
  elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(wine32_dir $ENV{XDG_CACHE_HOME}/talvin-wine32)
  else()
    set(wine32_dir $ENV{HOME}/.cache/talvin-wine32)
  endif()
  set(LAUNCHER_WINE32_DIR ${wine32_dir} CACHE PATH "The 32-bit wine scripts/install-deps.sh fetched")
  set(LAUNCHER_WINE ${LAUNCHER_WINE32_DIR}/bin)
  if(NOT EXISTS ${LAUNCHER_WINE}/wine)
    message(WARNING "No 32-bit wine in ${LAUNCHER_WINE32_DIR}: the tests need "
                    "'scripts/install-deps.sh all' (with LAUNCHER_WINE32_DIR set alike)")
  endif()
endif()

# runs_under_wine(TEST...): the tests run this build's wine.
function(runs_under_wine)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT LAUNCHER_WINE=${LAUNCHER_WINE})
endfunction()
