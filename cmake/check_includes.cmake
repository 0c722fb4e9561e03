# cmake -DSOURCE_DIR=<tree> -P check_includes.cmake
#
# Holds every C++ file of the tree to the include rules of its folder. A
# folder's DEPS file lists, one a line, the folders its files may include
# besides their own; a line "test: FOLDER" allows FOLDER to its tests
# (files named *_test.cc) only; "#" starts a comment. A folder without DEPS
# takes the rules of the nearest folder above it that has one. An include
# counts when its folder is a folder of the tree ("gtest/gtest.h" does not).
# A folder's subfolder is a folder of its own: interface_window/ may not
# include interface_window/win32/ unless its DEPS says so.
#
# Fails, naming each file, line, include and rule broken, and each folder
# with sources that no DEPS file governs.

cmake_minimum_required(VERSION 3.25)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_includes: SOURCE_DIR not set")
endif()

file(GLOB top RELATIVE ${SOURCE_DIR} LIST_DIRECTORIES true ${SOURCE_DIR}/*)
set(sources)
foreach(dir IN LISTS top)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${dir} OR dir MATCHES "^(build|\\.)")
    continue()
  endif()
  file(GLOB_RECURSE found RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${dir}/*.cc
       ${SOURCE_DIR}/${dir}/*.h)
  list(APPEND sources ${found})
endforeach()
list(SORT sources)

# The rules of `folder`: sets rules_dir (the folder whose DEPS governs it, or
# "" for none), rules_all and rules_test.
function(load_rules folder)
  set(dir ${folder})
  while(dir AND NOT EXISTS ${SOURCE_DIR}/${dir}/DEPS)
    get_filename_component(dir ${dir} DIRECTORY)
  endwhile()
  set(all)
  set(test)
  if(dir)
    file(STRINGS ${SOURCE_DIR}/${dir}/DEPS lines)
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "#.*" "" line "${line}")
      string(STRIP "${line}" line)
      if(line MATCHES "^test:[ \t]*(.+)$")
        list(APPEND test ${CMAKE_MATCH_1})
      elseif(line)
        list(APPEND all ${line})
      endif()
    endforeach()
  endif()
  set(rules_dir "${dir}" PARENT_SCOPE)
  set(rules_all "${all}" PARENT_SCOPE)
  set(rules_test "${test}" PARENT_SCOPE)
endfunction()

set(failures 0)
set(checked 0)
foreach(source IN LISTS sources)
  get_filename_component(folder ${source} DIRECTORY)
  load_rules(${folder})
  if(NOT rules_dir)
    message(SEND_ERROR "${source}: no DEPS file in ${folder}/ or above it "
                       "says which folders its files may include")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  set(allowed ${folder} ${rules_all})
  if(source MATCHES "_test\\.cc$")
    list(APPEND allowed ${rules_test})
  endif()
  file(STRINGS ${SOURCE_DIR}/${source} includes
       REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1"
           path "${line}")
    get_filename_component(target ${path} DIRECTORY)
    if(NOT target OR NOT IS_DIRECTORY ${SOURCE_DIR}/${target})
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    if(target IN_LIST allowed)
      continue()
    endif()
    # file(STRINGS) gives no line numbers: find the include's line in the
    # text, read only for a file that breaks a rule.
    file(READ ${SOURCE_DIR}/${source} text)
    string(FIND "${text}" "${line}" at)
    string(SUBSTRING "${text}" 0 ${at} before)
    string(REGEX MATCHALL "\n" newlines "${before}")
    list(LENGTH newlines number)
    math(EXPR number "${number} + 1")
    string(REPLACE ";" ", " listed "${rules_all}")
    if(source MATCHES "_test\\.cc$" AND rules_test)
      string(REPLACE ";" ", " listed_test "${rules_test}")
      string(APPEND listed "; tests also ${listed_test}")
    endif()
    message(SEND_ERROR
      "${source}:${number}: includes \"${path}\", but ${rules_dir}/DEPS "
      "does not let ${folder}/ include ${target}/ (it allows: ${listed})")
    math(EXPR failures "${failures} + 1")
  endforeach()
endforeach()

list(LENGTH sources files)
if(failures)
  message(FATAL_ERROR "check_includes: ${failures} include(s) break the "
                      "folders' rules (${files} files read)")
endif()
message(STATUS "check_includes: ${checked} includes of ${files} files keep "
               "their folders' rules")
