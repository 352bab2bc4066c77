# Runs when installing (see MorvikInstall.cmake). Installs the public headers
# and every header they include, directly or not, keeping each at its place
# below its include root, so that every quoted #include line resolves in the
# installed tree as it does in the source tree. A quoted include that names
# no header of the public folders or of the platform root stops the install.
#   HEADERS_ROOT      include root of the public headers
#   HEADERS_PUBLIC    folders (all headers below them) or files, under the
#                     root, separated by commas
#   HEADERS_PLATFORM  a second include root, or empty
#   HEADERS_DEST      the folder to install into

set(_allowed ${HEADERS_PLATFORM})
set(_queue)
string(REPLACE "," ";" _public "${HEADERS_PUBLIC}")
foreach(_entry IN LISTS _public)
  if(IS_DIRECTORY "${HEADERS_ROOT}/${_entry}")
    file(GLOB_RECURSE _found "${HEADERS_ROOT}/${_entry}/*.h" "${HEADERS_ROOT}/${_entry}/*.hpp")
    list(APPEND _queue ${_found})
    list(APPEND _allowed "${HEADERS_ROOT}/${_entry}")
  else()
    list(APPEND _queue "${HEADERS_ROOT}/${_entry}")
    get_filename_component(_dir "${HEADERS_ROOT}/${_entry}" DIRECTORY)
    list(APPEND _allowed "${_dir}")
  endif()
endforeach()

set(_headers)
while(_queue)
  list(POP_FRONT _queue _header)
  if(_header IN_LIST _headers)
    continue()
  endif()
  list(APPEND _headers "${_header}")
  get_filename_component(_here "${_header}" DIRECTORY)
  file(STRINGS "${_header}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _name "${_line}")
    # Quoted includes: the including file's folder first, then the roots.
    set(_target "")
    foreach(_root "${_here}" "${HEADERS_ROOT}" ${HEADERS_PLATFORM})
      if(EXISTS "${_root}/${_name}" AND NOT IS_DIRECTORY "${_root}/${_name}")
        get_filename_component(_target "${_root}/${_name}" ABSOLUTE)
        break()
      endif()
    endforeach()
    set(_inside FALSE)
    foreach(_dir IN LISTS _allowed)
      string(FIND "${_target}" "${_dir}/" _at)
      if(_at EQUAL 0)
        set(_inside TRUE)
      endif()
    endforeach()
    if(NOT _inside)
      message(FATAL_ERROR "${_header}: \"${_name}\" is not a header that is installed")
    endif()
    list(APPEND _queue "${_target}")
  endforeach()
endwhile()

foreach(_header IN LISTS _headers)
  # A platform header lies below its own root, the rest below the main one.
  set(_base "${HEADERS_ROOT}")
  if(HEADERS_PLATFORM)
    string(FIND "${_header}" "${HEADERS_PLATFORM}/" _at)
    if(_at EQUAL 0)
      set(_base "${HEADERS_PLATFORM}")
    endif()
  endif()
  file(RELATIVE_PATH _relative "${_base}" "${_header}")
  get_filename_component(_sub "${_relative}" DIRECTORY)
  file(INSTALL DESTINATION "${HEADERS_DEST}/${_sub}" TYPE FILE FILES "${_header}")
endforeach()
