# Authenticode signatures (SHA-256) of the Windows programs and packages,
# made when the publisher's certificate is named at configure time:
#   LAUNCHER_SIGN_PKCS12         the certificate and its key, a PKCS#12 file
#   LAUNCHER_SIGN_PASSWORD_FILE  a file holding its password, or
#   LAUNCHER_SIGN_PASSWORD       the password itself (then kept in this build
#                                folder's cache and in a file only its owner reads)
#   LAUNCHER_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping address (optional)
# Neither file may be in the source tree. Without a certificate every file
# is built exactly as it is unsigned. LAUNCHER_SIGN_COMMAND signs one file in
# place; sign_windows_program(TARGET) signs a program after each link.
# LAUNCHER_SIGN_DEPENDS: what every signed file depends on (the settings, the
# certificate), so that a build configured again with another certificate,
# or none, signs every file again, though no code changed.
set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH "The publisher's code-signing certificate and key (PKCS#12)")
set(LAUNCHER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the PKCS#12 file's password")
set(LAUNCHER_SIGN_PASSWORD "" CACHE STRING "The PKCS#12 file's password")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "An RFC 3161 time-stamping address")
mark_as_advanced(LAUNCHER_SIGN_PASSWORD)
set(LAUNCHER_SIGN_COMMAND "")
set(LAUNCHER_SIGN_DEPENDS ${CMAKE_BINARY_DIR}/signing/settings)
file(CONFIGURE OUTPUT ${LAUNCHER_SIGN_DEPENDS} CONTENT "${LAUNCHER_SIGN_PKCS12}
${LAUNCHER_SIGN_PASSWORD_FILE}
${LAUNCHER_SIGN_TIMESTAMP_URL}
" @ONLY)

function(sign_windows_program target)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${LAUNCHER_SIGN_DEPENDS})
  if(LAUNCHER_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${LAUNCHER_SIGN_COMMAND} $<TARGET_FILE:${target}> VERBATIM)
  endif()
endfunction()

if(NOT LAUNCHER_SIGN_PKCS12)
  message(STATUS "No signing certificate (LAUNCHER_SIGN_PKCS12): the Windows programs and packages are unsigned")
  return()
endif()

# sign_setting_file(VARIABLE): the named file exists and is outside the sources.
function(sign_setting_file variable)
  file(REAL_PATH "${${variable}}" path)
  file(REAL_PATH "${PROJECT_SOURCE_DIR}" sources)
  cmake_path(IS_PREFIX sources "${path}" NORMALIZE inside)
  if(inside)
    message(FATAL_ERROR "${variable}: ${path} is inside the source tree; "
                        "keep the certificate and its password out of it")
  endif()
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${variable}: no file ${path}")
  endif()
endfunction()
sign_setting_file(LAUNCHER_SIGN_PKCS12)
# A renewed certificate may come under the same name.
list(APPEND LAUNCHER_SIGN_DEPENDS ${LAUNCHER_SIGN_PKCS12})
if(LAUNCHER_SIGN_PASSWORD_FILE)
  sign_setting_file(LAUNCHER_SIGN_PASSWORD_FILE)
  set(password_file ${LAUNCHER_SIGN_PASSWORD_FILE})
elseif(DEFINED CACHE{LAUNCHER_SIGN_PASSWORD} AND NOT LAUNCHER_SIGN_PASSWORD STREQUAL "")
  # Made empty and closed to others before the password goes in.
  set(password_file ${CMAKE_BINARY_DIR}/signing/password)
  file(REMOVE ${password_file})
  file(TOUCH ${password_file})
  file(CHMOD ${password_file} PERMISSIONS OWNER_READ OWNER_WRITE)
  file(APPEND ${password_file} "${LAUNCHER_SIGN_PASSWORD}")
else()
  message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12 needs LAUNCHER_SIGN_PASSWORD_FILE or LAUNCHER_SIGN_PASSWORD")
endif()
find_program(OSSLSIGNCODE osslsigncode REQUIRED)

# The signing script, its settings quoted for the shell.
function(shell_word variable value)
  string(REPLACE "'" "'\\''" value "${value}")
  set(${variable} "'${value}'" PARENT_SCOPE)
endfunction()
shell_word(SIGN_TOOL "${OSSLSIGNCODE}")
shell_word(SIGN_PKCS12 "${LAUNCHER_SIGN_PKCS12}")
shell_word(SIGN_PASSWORD_FILE "${password_file}")
set(SIGN_TIMESTAMP "")
if(LAUNCHER_SIGN_TIMESTAMP_URL)
  shell_word(url "${LAUNCHER_SIGN_TIMESTAMP_URL}")
  set(SIGN_TIMESTAMP "-ts ${url}")
endif()
set(LAUNCHER_SIGN_COMMAND ${CMAKE_BINARY_DIR}/signing/sign-file)
configure_file(${CMAKE_CURRENT_LIST_DIR}/sign_file.sh.in ${LAUNCHER_SIGN_COMMAND}
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE @ONLY)
message(STATUS "Signing the Windows programs and packages with ${LAUNCHER_SIGN_PKCS12}")
