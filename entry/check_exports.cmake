# Checks the export table of the plug-in: exactly ShowDllJqsk @1,
# ShowDllFxsk @2 and ShowDllBbsk @3, no decorated names; and that it imports
# only system DLLs (the runtime is linked statically).
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${rc})")
endif()

string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1 OR NOT base)
  message(FATAL_ERROR "${DLL}: no export table")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCH "Table\n([^\n]+\n)+" table "${table}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(found)
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([^\n]+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND found "${CMAKE_MATCH_2}@${ordinal}")
endforeach()
list(SORT found)
set(expected ShowDllBbsk@3 ShowDllFxsk@2 ShowDllJqsk@1)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "${DLL} exports '${found}', expected '${expected}'")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system kernel32.dll user32.dll gdi32.dll comctl32.dll msvcrt.dll
    shell32.dll ole32.dll oleaut32.dll ws2_32.dll advapi32.dll comdlg32.dll
    uxtheme.dll shlwapi.dll bcrypt.dll)
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" name "${import}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST system)
    message(FATAL_ERROR "${DLL} imports ${name}, which is no system DLL")
  endif()
endforeach()
message(STATUS "${DLL}: exports ${found}; imports only system DLLs")
