# The version resource of each Windows program (Explorer's Properties, installers and version
# tools read it): the project's version, the program's file name and what it is, compiled by the
# toolchain's windres. Elsewhere add_version_resource does nothing.
if(WIN32)
  enable_language(RC)
endif()

set(VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

# add_version_resource(<target> <file name> <description>)
function(add_version_resource target file_name description)
  if(NOT WIN32)
    return()
  endif()
  set(VERSION_FILE_NAME ${file_name})
  set(VERSION_DESCRIPTION ${description})
  set(VERSION_INTERNAL_NAME ${target})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${VERSION_RESOURCE_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
