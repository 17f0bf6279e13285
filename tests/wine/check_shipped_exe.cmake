# Usage: cmake -DEXE=launcher.exe -DOBJDUMP=objdump -DMAX_SIZE=65536 -P check_shipped_exe.cmake
#
# Checks the shipped 32-bit Windows program as a file: small, stripped, a GUI
# program (no console window opens), and needing no DLL beyond those every
# Windows has, so it runs from wherever it is copied.
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
