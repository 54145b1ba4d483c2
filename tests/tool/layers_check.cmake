# The configure check of the tool's folders, run on planted trees: each fault must fail it and be
# named, and a clean tree must pass. Run as: cmake -DSOURCE_DIR=<repo> -DWORK=<scratch> -P this.
# With -DROOT=<tree> it is the check itself, in a process of its own, since a failed check ends
# the script that runs it.
cmake_minimum_required(VERSION 3.25)
if(DEFINED ROOT)
  include(${SOURCE_DIR}/cmake/ToolLayers.cmake)
  tillwright_check_layers(${ROOT} dialogs core settings "programming registration" app "qt win32 cli")
  return()
endif()

# name; file=included header (more than one pair: ;-separated); the text the failure must name
# ("" for a tree that must pass).
set(cases
  "clean|core/link.h=dialogs/dialog.h,app/main.cpp=core/link.h,qt/host.cpp=app/main.h|"
  "upward|core/link.cpp=app/main.h|core/link.cpp includes app/main.h: app/ is not below core/"
  "sibling|programming/logo.cpp=registration/reg.h|registration/ is not below programming/"
  "settings-up|settings/settings.cpp=programming/logo.h|settings/settings.cpp includes programming/logo.h"
  "mutual|core/a.h=core/b.h,core/b.cpp=core/a.h|core/a and core/b include each other"
  "platform-pair|core/a_posix.cpp=core/b.h,core/b.h=core/a.h|core/a and core/b include each other")

set(failed "")
foreach(case ${cases})
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 name)
  list(GET parts 1 plants)
  list(LENGTH parts count)
  set(expected "")
  if(count GREATER 2)
    list(GET parts 2 expected)
  endif()
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  string(REPLACE "," ";" plants "${plants}")
  foreach(plant ${plants})
    string(REPLACE "=" ";" pair "${plant}")
    list(GET pair 0 file)
    list(GET pair 1 included)
    file(APPEND ${root}/${file} "#include \"${included}\"\n")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DROOT=${root} -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(expected STREQUAL "")
    if(NOT result EQUAL 0)
      list(APPEND failed "${name}: a clean tree failed the check:\n${out}")
    endif()
  elseif(result EQUAL 0)
    list(APPEND failed "${name}: the check passed a tree where ${expected}")
  else()
    string(REGEX REPLACE "[ \t\r\n]+" " " flat "${out}")
    string(FIND "${flat}" "${expected}" at)
    if(at EQUAL -1)
      list(APPEND failed "${name}: the failure does not say \"${expected}\":\n${out}")
    endif()
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
if(failed)
  list(JOIN failed "\n" text)
  message(FATAL_ERROR "${text}")
endif()
list(LENGTH cases total)
message(STATUS "layer check: ${total} planted trees judged as expected")
