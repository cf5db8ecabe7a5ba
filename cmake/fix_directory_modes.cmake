# Run at the end of an install (install(SCRIPT), once per component). CMake makes directories with
# mkdir() under the builder's umask, whatever CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS says:
# under umask 077 each would be drwx------, the packages' too. So each directory on the way to a
# file just installed gets 0755 when it lacks read or search for group or others; one that grants
# them already (a setgid /usr/local/bin) is left as it is. The walk stops below the prefix (the
# installer's choice), or below DESTDIR or CPack's staging directory, where everything is ours.
# (An install script runs with no policies set: this one sets its own.)
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)
if(DEFINED ENV{DESTDIR} AND NOT "$ENV{DESTDIR}" STREQUAL "")
  set(_fix_top "$ENV{DESTDIR}")
elseif(CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
  get_filename_component(_fix_top "${CMAKE_INSTALL_PREFIX}" DIRECTORY)
else()
  set(_fix_top "${CMAKE_INSTALL_PREFIX}")
endif()
set(_fix_done)
foreach(_fix_file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
  # The list names the files without DESTDIR.
  string(FIND "${_fix_file}" "${_fix_top}/" _fix_at)
  if(NOT _fix_at EQUAL 0)
    set(_fix_file "$ENV{DESTDIR}${_fix_file}")
  endif()
  get_filename_component(_fix_dir "${_fix_file}" DIRECTORY)
  while(TRUE)
    string(FIND "${_fix_dir}" "${_fix_top}/" _fix_at)
    if(NOT _fix_at EQUAL 0 OR _fix_dir IN_LIST _fix_done)
      break()
    endif()
    list(APPEND _fix_done "${_fix_dir}")
    execute_process(COMMAND stat -c %a "${_fix_dir}" OUTPUT_VARIABLE _fix_mode
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _fix_status)
    if(_fix_status EQUAL 0 AND _fix_mode MATCHES "([0-7])([0-7])$")
      math(EXPR _fix_granted "(${CMAKE_MATCH_1} & 5) * 8 + (${CMAKE_MATCH_2} & 5)")
      if(NOT _fix_granted EQUAL 45)
        file(CHMOD "${_fix_dir}" DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
      endif()
    endif()
    get_filename_component(_fix_dir "${_fix_dir}" DIRECTORY)
  endwhile()
endforeach()
cmake_policy(POP)
