include_guard(GLOBAL)

# tillwright_check_layers(<root> <layer>...): each layer is a ;-list of folders under <root>, the
# lowest first. A file of one folder may include its own folder and the folders of lower layers
# only: never a higher one, nor a sibling of its own layer. And no two files may include each
# other, a header and its source counting as one file (a.h and a.cpp are "a"). The configure fails
# with every offending include named.
#
# The check reads the quoted includes that start with a folder of the layers; system and other
# libraries' headers are not its business.
function(tillwright_check_layers root)
  set(rank 0)
  set(folders "")
  foreach(layer ${ARGN})
    string(REPLACE " " ";" layer "${layer}")
    foreach(folder ${layer})
      set(_rank_${folder} ${rank})
      list(APPEND folders ${folder})
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  list(JOIN folders "|" alternatives)
  # A new file is judged at the next build; a script (its test) has no build to re-run.
  set(depends CONFIGURE_DEPENDS)
  if(CMAKE_SCRIPT_MODE_FILE)
    set(depends "")
  endif()

  set(faults "")
  set(units "")
  foreach(folder ${folders})
    file(GLOB_RECURSE files ${depends} "${root}/${folder}/*.h" "${root}/${folder}/*.cpp")
    foreach(file ${files})
      file(RELATIVE_PATH name "${root}" "${file}")
      string(REGEX REPLACE "\\.(h|cpp)$" "" unit "${name}")
      string(REGEX REPLACE "_(posix|linux|win)$" "" unit "${unit}")
      file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${alternatives})/")
      foreach(line ${lines})
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" included "${line}")
        string(REGEX REPLACE "/.*$" "" target "${included}")
        if(NOT target STREQUAL folder AND NOT _rank_${target} LESS _rank_${folder})
          list(APPEND faults "${name} includes ${included}: ${target}/ is not below ${folder}/")
        endif()
        string(REGEX REPLACE "\\.(h|cpp)$" "" to "${included}")
        if(NOT to STREQUAL unit)
          string(MAKE_C_IDENTIFIER "${unit}" key)
          list(APPEND _edges_${key} "${to}")
          list(APPEND units "${unit}")
        endif()
      endforeach()
    endforeach()
  endforeach()

  list(REMOVE_DUPLICATES units)
  foreach(unit ${units})
    string(MAKE_C_IDENTIFIER "${unit}" key)
    foreach(to ${_edges_${key}})
      string(MAKE_C_IDENTIFIER "${to}" back)
      if(unit STRLESS to AND unit IN_LIST _edges_${back})
        list(APPEND faults "${unit} and ${to} include each other")
      endif()
    endforeach()
  endforeach()

  if(faults)
    list(JOIN faults "\n  " text)
    message(FATAL_ERROR "tool layers (${ARGN}, lowest first) broken:\n  ${text}")
  endif()
endfunction()
