# CPack, before it makes the RPM from the staged files: where RPM-based
# systems keep what Debian keeps elsewhere. The license goes to
# /usr/share/licenses, and lintian's overrides, which no RPM tool reads, go.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/copyright")
foreach(copyright IN LISTS staged)
  if(copyright MATCHES "^(.*)/usr/share/doc/([^/]+)/copyright$")
    file(MAKE_DIRECTORY "${CMAKE_MATCH_1}/usr/share/licenses/${CMAKE_MATCH_2}")
    file(RENAME "${copyright}" "${CMAKE_MATCH_1}/usr/share/licenses/${CMAKE_MATCH_2}/copyright")
    file(REMOVE_RECURSE "${CMAKE_MATCH_1}/usr/share/lintian")
  endif()
endforeach()
