# Run by `cmake --install` and CPack (install(CODE) from cmake/manpages.cmake): fills the install's
# own folders into documents and installs them. A prefix inside CPack's staging folder is the
# .tar.gz, unpacked anywhere: its documents name the folders relative to where it is unpacked.
# The .debs install with the prefix /usr (and DESTDIR), so theirs name /usr/... .
# Set by the caller: GZIP_PROGRAM, PROJECT_VERSION, CMAKE_INSTALL_BINDIR,
# CMAKE_INSTALL_INCLUDEDIR, documents_package_docdir, documents_dev_docdir, documents_files,
# documents_destinations,
# documents_gzip (ON/OFF per file) and documents_work_dir.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

function(documents_installed_path variable directory)
  if(IS_ABSOLUTE "${directory}")
    set(path "${directory}")
  elseif(CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    set(path "${directory}")
  else()
    set(path "${CMAKE_INSTALL_PREFIX}/${directory}")
  endif()
  set(${variable} "${path}" PARENT_SCOPE)
endfunction()

documents_installed_path(BIN_DIR "${CMAKE_INSTALL_BINDIR}")
documents_installed_path(INCLUDE_DIR "${CMAKE_INSTALL_INCLUDEDIR}")
documents_installed_path(DOC_DIR "${documents_package_docdir}")
documents_installed_path(DEV_DOC_DIR "${documents_dev_docdir}")

file(MAKE_DIRECTORY "${documents_work_dir}")
foreach(source destination gzip IN ZIP_LISTS documents_files documents_destinations documents_gzip)
  get_filename_component(name "${source}" NAME)
  set(filled "${documents_work_dir}/${name}")
  if(name MATCHES "\\.md$")
    # Markdown may hold any @ text: only the paths a reader is sent to are replaced.
    file(READ "${source}" text)
    string(REPLACE "`build/bin/conproxy`" "`${BIN_DIR}/conproxy`" text "${text}")
    string(REPLACE "`/usr/share/doc/libconproxy-client-dev/examples/`" "`${DEV_DOC_DIR}/examples/`"
           text "${text}")
    file(WRITE "${filled}" "${text}")
  else()
    configure_file("${source}" "${filled}" @ONLY)
  endif()
  if(gzip)
    execute_process(COMMAND "${GZIP_PROGRAM}" -9nf "${name}"
                    WORKING_DIRECTORY "${documents_work_dir}" RESULT_VARIABLE gzip_status)
    if(NOT gzip_status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${filled}")
    endif()
    set(filled "${filled}.gz")
  endif()
  if(IS_ABSOLUTE "${destination}")
    set(target_dir "${destination}")
  else()
    set(target_dir "${CMAKE_INSTALL_PREFIX}/${destination}")
  endif()
  # file(INSTALL) adds DESTDIR itself and records the file in the install manifest.
  file(INSTALL DESTINATION "${target_dir}" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${filled}")
endforeach()
cmake_policy(POP)
