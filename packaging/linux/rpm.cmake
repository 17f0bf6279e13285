# The RPM package (`cpack -G RPM` in the build folder) for Fedora, openSUSE
# and their kin: the .deb's files, where those systems keep them
# (docs/install.md lists the differences). Included before CPack.

set(CPACK_RPM_FILE_NAME RPM-DEFAULT) # talvin-launcher-1.0.0-1.x86_64.rpm
set(CPACK_PACKAGE_RELOCATABLE OFF) # the .desktop files name /usr/bin
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE MIT) # the copyright file's Expat license, by its SPDX name
set(CPACK_RPM_PACKAGE_GROUP "Productivity/Networking/Web/Utilities")
set(CPACK_RPM_PACKAGE_SUMMARY "Opens downloaded launch files and starts the product they name")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# rpmbuild finds the libraries the programs link (libcrypto.so.3 from
# talvin-sign and talvin-verify, as dpkg-shlibdeps finds libssl3).
# Tags CPack has no variable for; no build-id links, since the programs are
# stripped and no debuginfo package goes with them; file and build times
# from SOURCE_DATE_EPOCH, as in the .deb.
set(CPACK_RPM_SPEC_MORE_DEFINE "Recommends: zenity\nSuggests: xmessage\nPackager: ${CPACK_PACKAGE_CONTACT}
%define _build_id_links none
%define clamp_mtime_to_source_date_epoch 1
%define use_source_date_epoch_as_buildtime 1")
# The programs as the .deb holds them, stripped once by CPack: rpmbuild's own
# stripping would take their notes away too.
set(CPACK_RPM_SPEC_INSTALL_POST /bin/true)
# Folders the system's own packages own; the package owns only its own.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/libexec /usr/share/applications /usr/share/licenses /usr/share/man /usr/share/man/man1
    /usr/share/man/man5 /usr/share/mime /usr/share/mime/packages)
# The .deb's postrm, run when the package is erased: every account's files of
# talvin: links go with it.
set(CPACK_RPM_POST_UNINSTALL_SCRIPT_FILE ${CMAKE_CURRENT_SOURCE_DIR}/postrm)
# The copyright file is the package's license (rpm_layout.cmake moves it).
set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/${CPACK_PACKAGE_NAME}/copyright")

# The RPM changelog, from the Debian one: each entry's version, author, date
# and items.
file(STRINGS changelog lines)
set(entries "")
set(items "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[^ ]+ \\(([^)]+)\\)")
    set(version ${CMAKE_MATCH_1})
  elseif(line MATCHES "^  \\* (.*)")
    string(APPEND items "- ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^    (.*)")
    string(APPEND items "  ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^ -- (.*>)  ([A-Z][a-z][a-z]), ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+)")
    set(day ${CMAKE_MATCH_3})
    if(day LESS 10)
      set(day 0${day})
    endif()
    string(APPEND entries "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${day} ${CMAKE_MATCH_5} "
           "${CMAKE_MATCH_1} - ${version}-${CPACK_RPM_PACKAGE_RELEASE}\n${items}\n")
    set(items "")
  endif()
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/rpm-changelog "${entries}")
set(CPACK_RPM_CHANGELOG_FILE ${CMAKE_CURRENT_BINARY_DIR}/rpm-changelog)
set(LAUNCHER_RPM_LAYOUT ${CMAKE_CURRENT_SOURCE_DIR}/rpm_layout.cmake)
