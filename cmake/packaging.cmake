# Packages made by `--target package`: on Windows a zip of the three programs, README.TXT and
# the client library's sources; on Linux a .tar.gz of what `cmake --install` puts in place and
# two .debs: the programs, and the client library's -dev package. The install rules themselves
# live beside each target (directories and components: cmake/install_dirs.cmake); the shared
# pieces are here.

# Debian allows no '_' in a package name, so the package is not named after project().
set(CPACK_PACKAGE_NAME portboot-conproxy)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The portboot-conproxy developers")
# Overridable, since whoever publishes the package answers for it; packaging/changelog and
# packaging/copyright name the same address.
set(PACKAGE_MAINTAINER "portboot-conproxy developers <dev@portboot-conproxy.org>"
    CACHE STRING "Contact and Debian maintainer written into the packages")
set(CPACK_PACKAGE_CONTACT ${PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
# The builder's umask does not reach the packages' directories.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

if(WIN32)
  # The Windows console shows code page 866 (`type README.TXT`); the text is kept in UTF-8 with
  # LF in the tree, so it is turned into CRLF here and into CP866 by iconv, which refuses a
  # character that CP866 lacks instead of writing a '?'.
  set(readme_source ${PROJECT_SOURCE_DIR}/packaging/README.windows.txt)
  set(readme_utf8 ${PROJECT_BINARY_DIR}/packaging/README.utf8.txt)
  set(readme_txt ${PROJECT_BINARY_DIR}/packaging/README.TXT)
  configure_file(${readme_source} ${readme_utf8} @ONLY NEWLINE_STYLE CRLF)
  find_program(ICONV_PROGRAM iconv REQUIRED)
  execute_process(
    COMMAND ${ICONV_PROGRAM} -f UTF-8 -t CP866
    INPUT_FILE ${readme_utf8}
    OUTPUT_FILE ${readme_txt}
    RESULT_VARIABLE iconv_status
    ERROR_VARIABLE iconv_error)
  if(NOT iconv_status EQUAL 0)
    message(FATAL_ERROR "README.TXT: ${readme_source} does not convert to CP866: ${iconv_error}")
  endif()
  install(FILES ${readme_txt} DESTINATION .)
  # The licence travels with the programs, with CRLF line ends for Notepad.
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE.TXT
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/LICENSE.TXT DESTINATION .)
  # The example client beside the library's sources; README.TXT gives its build line.
  install(FILES examples/hello_client.cpp examples/README.md DESTINATION examples)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(package_platform win32)
  else()
    set(package_platform win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  # The programs sit at the top of the zip; Explorer's "Extract All" makes the folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME
      "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${package_platform}-${CMAKE_SYSTEM_PROCESSOR}")
else()
  # The programs' documents mirror the tree's layout, so that the links between them still work;
  # links to files that are not installed lose their target (build/packaging/README.md).
  set(package_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
  set(dev_package_name libconproxy-client-dev)
  set(dev_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${dev_package_name})
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme_text)
  # The licence is the Debian copyright file beside it; the rest lives in the source tree only.
  string(REPLACE "](LICENSE)" "](copyright)" readme_text "${readme_text}")
  foreach(source_only bench/README.md fuzz/README.md)
    string(REGEX REPLACE "\\[([^]]*)\\]\\(${source_only}\\)" "\\1 in the source tree"
           readme_text "${readme_text}")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/README.md "${readme_text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/README.md DESTINATION ${package_docdir})
  install(FILES docs/windows-differences.md DESTINATION ${package_docdir}/docs)
  install(FILES tools/devsim/README.md DESTINATION ${package_docdir}/tools/devsim)
  # The manual pages, the protocol document (in both packages) and the Debian documents.
  # The example client, built from there by pkg-config or by its own CMakeLists.txt.
  install(FILES examples/hello_client.cpp examples/CMakeLists.txt examples/README.md
          DESTINATION ${dev_docdir}/examples COMPONENT dev)
  include(cmake/manpages.cmake)

  find_program(DPKG_PROGRAM dpkg)
  if(DPKG_PROGRAM)
    execute_process(
      COMMAND ${DPKG_PROGRAM} --print-architecture
      OUTPUT_VARIABLE package_arch
      OUTPUT_STRIP_TRAILING_WHITESPACE)
  else()
    set(package_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME
      "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${package_arch}")

  # One .deb per component; the .tar.gz stays one archive of everything.
  set(CPACK_COMPONENTS_ALL programs dev)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${CPACK_PACKAGE_NAME})
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${dev_package_name})
  # name_version_arch.deb, the name apt and dpkg users expect.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${package_arch})
  # Computed from the installed programs only, so test-only libraries (libvterm, gtest) never
  # become dependencies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A program built on the library starts conproxy, which comes with the programs.
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${CPACK_PACKAGE_NAME} (= ${PROJECT_VERSION})")
  # Summary line first; Debian shows the rest as it is: lines of at most 80 characters.
  set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
      "serial boot loader (portboot) and console request server (conproxy)
portboot sends a program image over a serial line to a target device and has
it saved to flash or run. conproxy carries out console requests (clear, cursor,
read and write text, input records) for a client that shares a memory region
and two events with it. Also: conclient, a scripted client, and devsim, a
simulated device on a pseudo-terminal.")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
      "client library for the conproxy console request server
A static C++ library and its header for programs that start conproxy and send
it console requests (clear, cursor, read and write text, input records)
through a shared memory region and two events, with a pkg-config file
(conproxy_client) and a CMake package (find_package(conproxy_client), target
conproxy_client::conproxy_client), and the description of the protocol.")
endif()

include(CPack)

# Last of all the install rules: directory modes whatever the umask (see the script).
if(NOT WIN32)
  foreach(component programs dev)
    install(SCRIPT cmake/fix_directory_modes.cmake COMPONENT ${component})
  endforeach()
endif()
