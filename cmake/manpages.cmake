# The manual pages and the Debian documents of the Linux install: each page's one source is
# docs/man/<program>.1 (roff, with @PROJECT_VERSION@ filled in here); the build gzips the
# pages and the changelog as Debian keeps them (-9, no name or time stamp, so a rebuild gives
# the same bytes). The copyright file is installed as it is.
find_program(GZIP_PROGRAM gzip REQUIRED)

set(manpage_programs portboot conproxy conclient devsim)
set(manpage_dir ${PROJECT_BINARY_DIR}/man)
set(gzipped_documents)

foreach(program ${manpage_programs})
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${program}.1 ${manpage_dir}/${program}.1 @ONLY)
  add_custom_command(
    OUTPUT ${manpage_dir}/${program}.1.gz
    COMMAND ${GZIP_PROGRAM} -9nkf ${program}.1
    WORKING_DIRECTORY ${manpage_dir}
    DEPENDS ${manpage_dir}/${program}.1
    COMMENT "Compressing the manual page ${program}(1)"
    VERBATIM)
  list(APPEND gzipped_documents ${manpage_dir}/${program}.1.gz)
  install(FILES ${manpage_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

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
list(APPEND gzipped_documents ${changelog_dir}/changelog.gz)
# Each package carries its own copy.
install(FILES ${changelog_dir}/changelog.gz packaging/copyright DESTINATION ${package_docdir})
install(FILES ${changelog_dir}/changelog.gz packaging/copyright DESTINATION ${dev_docdir}
        COMPONENT dev)

add_custom_target(gzipped_documents ALL DEPENDS ${gzipped_documents})
