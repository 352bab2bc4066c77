# Runs when installing (see MorvikInstall.cmake). Installs the public headers
# and every header they include, directly or not, each at its place below
# the include root, so that every quoted #include line resolves in the
# installed tree as it does in the build tree. A quoted include that names no
# header below the root stops the install.
#   HEADERS_ROOT    the include root (a folder of links into the sources)
#   HEADERS_PUBLIC  folders (all headers below them) or files, under the
#                   root, separated by commas
#   HEADERS_DEST    the folder to install into

set(_queue)
string(REPLACE "," ";" _public "${HEADERS_PUBLIC}")
foreach(_entry IN LISTS _public)
  if(IS_DIRECTORY "${HEADERS_ROOT}/${_entry}")
    file(GLOB_RECURSE _found FOLLOW_SYMLINKS "${HEADERS_ROOT}/${_entry}/*.h" "${HEADERS_ROOT}/${_entry}/*.hpp")
    list(APPEND _queue ${_found})
  else()
    list(APPEND _queue "${HEADERS_ROOT}/${_entry}")
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
    # Quoted includes: the including file's folder first, then the root;
    # the path stays below the root (links are not resolved).
    set(_target "")
    foreach(_base "${_here}" "${HEADERS_ROOT}")
      if(EXISTS "${_base}/${_name}" AND NOT IS_DIRECTORY "${_base}/${_name}")
        set(_target "${_base}/${_name}")
        break()
      endif()
    endforeach()
    string(FIND "${_target}" "${HEADERS_ROOT}/" _at)
    if(NOT _at EQUAL 0 OR _name MATCHES "\\.\\.")
      message(FATAL_ERROR "${_header}: \"${_name}\" is not a header that is installed")
    endif()
    list(APPEND _queue "${_target}")
  endforeach()
endwhile()

foreach(_header IN LISTS _headers)
  file(RELATIVE_PATH _relative "${HEADERS_ROOT}" "${_header}")
  get_filename_component(_sub "${_relative}" DIRECTORY)
  file(INSTALL DESTINATION "${HEADERS_DEST}/${_sub}" TYPE FILE FILES "${_header}")
endforeach()
