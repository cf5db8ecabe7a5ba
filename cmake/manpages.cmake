# The manual pages and the documents of the Linux install. The pages and the protocol document
# name installed paths (the documents' folder, bin/conproxy, the header), and an install's
# prefix is only known when it runs (`cmake --install --prefix`, CPack's /usr): so they are
# filled in then, by cmake/install_documents.cmake, from the same GNU directories as the install
# rules. Each page's one source is docs/man/<program>.1 (roff; @PROJECT_VERSION@, @BIN_DIR@,
# @DOC_DIR@ and @INCLUDE_DIR@ filled in); pages and the changelog are gzipped as Debian keeps
# them (-9, no name or time stamp, so a rebuild gives the same bytes). The copyright file is
# installed as it is.
find_program(GZIP_PROGRAM gzip REQUIRED)

# One install-time job per component: the sources, each one's destination, and whether gzipped.
function(install_configured_documents component)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FILES;DESTINATIONS;GZIP")
  set(code)
  foreach(variable GZIP_PROGRAM PROJECT_VERSION CMAKE_INSTALL_BINDIR CMAKE_INSTALL_INCLUDEDIR)
    string(APPEND code "set(${variable} \"${${variable}}\")\n")
  endforeach()
  string(APPEND code
    "set(documents_package_docdir \"${package_docdir}\")\n"
    "set(documents_dev_docdir \"${dev_docdir}\")\n"
    "set(documents_files \"${arg_FILES}\")\n"
    "set(documents_destinations \"${arg_DESTINATIONS}\")\n"
    "set(documents_gzip \"${arg_GZIP}\")\n"
    "set(documents_work_dir \"${PROJECT_BINARY_DIR}/installed-documents/${component}\")\n"
    "include(\"${PROJECT_SOURCE_DIR}/cmake/install_documents.cmake\")\n")
  install(CODE "${code}" COMPONENT ${component})
endfunction()

set(page_files)
set(page_destinations)
set(page_gzip)
foreach(program portboot conproxy conclient devsim)
  list(APPEND page_files ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
  list(APPEND page_destinations ${CMAKE_INSTALL_MANDIR}/man1)
  list(APPEND page_gzip ON)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/docs/man/${program}.1)
endforeach()
install_configured_documents(programs
  FILES ${page_files} ${PROJECT_SOURCE_DIR}/docs/conproxy-protocol.md
  DESTINATIONS ${page_destinations} ${package_docdir}/docs
  GZIP ${page_gzip} OFF)
# The -dev package's own copy: the protocol its library speaks.
install_configured_documents(dev
  FILES ${PROJECT_SOURCE_DIR}/docs/conproxy-protocol.md
  DESTINATIONS ${dev_docdir}
  GZIP OFF)

# A package whose version has no Debian revision is native: its changelog is changelog.gz.
set(changelog_dir ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${changelog_dir}/changelog COPYONLY)
add_custom_command(
  OUTPUT ${changelog_dir}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nkf changelog
  WORKING_DIRECTORY ${changelog_dir}
  DEPENDS ${changelog_dir}/changelog
  COMMENT "Compressing the Debian changelog"
  VERBATIM)
# Each package carries its own copy.
install(FILES ${changelog_dir}/changelog.gz packaging/copyright DESTINATION ${package_docdir})
install(FILES ${changelog_dir}/changelog.gz packaging/copyright DESTINATION ${dev_docdir}
        COMPONENT dev)

add_custom_target(gzipped_documents ALL DEPENDS ${changelog_dir}/changelog.gz)
