# Usage: cmake -DEXE=launcher.exe -DOBJDUMP=objdump -DMAX_SIZE=65536 -DVERSION=1.0.0
#        -P check_shipped_exe.cmake
#
# Checks the shipped 32-bit Windows program as a file: small, stripped, a GUI
# program (no console window opens), needing no DLL beyond those every
# Windows has, so it runs from wherever it is copied, and carrying what
# Windows shows of a program (version, names, icon) and its manifest.
cmake_minimum_required(VERSION 3.25)
set(allowed_dlls kernel32.dll user32.dll msvcrt.dll)
set(problems "")

file(SIZE "${EXE}" size)
if(size GREATER MAX_SIZE)
  string(APPEND problems "\n  ${size} bytes, more than ${MAX_SIZE}")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
execute_process(COMMAND "${OBJDUMP}" -t "${EXE}" OUTPUT_VARIABLE symbols)

if(NOT headers MATCHES "file format pei-i386")
  string(APPEND problems "\n  not a 32-bit Windows program")
endif()
if(NOT headers MATCHES "\n\tsymbols stripped\n" OR NOT symbols MATCHES "\nno symbols")
  string(APPEND problems "\n  symbols not stripped")
endif()
if(NOT headers MATCHES "\nSubsystem[ \t]+00000002")
  string(APPEND problems "\n  not a GUI program")
endif()

# The resource types present (objdump's type table: ID 0x000003 ...), then
# what they must say: the version's strings are UTF-16, the manifest UTF-8.
string(REGEX MATCHALL "\n[0-9a-f]+   Entry: ID: 0x0000[0-9a-f][0-9a-f]" types "${headers}")
foreach(type IN ITEMS "03;icon" "0e;icon group" "10;version resource" "18;manifest")
  list(GET type 0 id)
  list(GET type 1 what)
  if(NOT types MATCHES "ID: 0x0000${id}")
    string(APPEND problems "\n  no ${what}")
  endif()
endforeach()
file(READ "${EXE}" bytes HEX)
# Adds "WHAT lacks SHOWN" to the problems unless the exe holds `text`, in
# UTF-16 when `wide`.
function(wanted what wide text shown)
  string(HEX "${text}" hex)
  if(wide)
    string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  endif()
  string(FIND "${bytes}" "${hex}" at)
  if(at LESS 0)
    set(problems "${problems}\n  ${what} lacks ${shown}" PARENT_SCOPE)
  endif()
endfunction()
foreach(text "FileDescription" "Talvin Launcher" "ProductVersion" "${VERSION}")
  wanted("the version resource" TRUE "${text}" "\"${text}\"")
endforeach()
foreach(text "Microsoft.Windows.Common-Controls\" version=\"6.0.0.0"
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" "PerMonitorV2")
  wanted("the manifest" FALSE "${text}" "${text}")
endforeach()
# Virtualized reads of the Windows directory find the talvin.ini of old
# installers: no execution level is asked for.
string(HEX "<requestedExecutionLevel" hex)
string(FIND "${bytes}" "${hex}" at)
if(at GREATER_EQUAL 0)
  string(APPEND problems "\n  the manifest asks for an execution level")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(dlls "")
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  list(APPEND dlls "${dll}")
  # Windows compares DLL names ignoring case.
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed_dlls)
    string(APPEND problems "\n  imports ${dll}")
  endif()
endforeach()

if(problems)
  message(FATAL_ERROR "${EXE}:${problems}")
endif()
message(STATUS "${EXE}: ${size} bytes, imports ${dlls}")
