# Where `cmake --install` and the packages put things, settled before the first install rule.
# Linux: the GNU directories, with the library in the multiarch directory wherever the compiler
# has one (lib/x86_64-linux-gnu on Debian: GNUInstallDirs picks it only for the prefix /usr, and
# the packages are configured with another). Directories are made 0755 whatever the builder's
# umask (cmake/fix_directory_modes.cmake). A rule that names no component of its own belongs to the programs' package.
# (A tree configured before this file existed has GNUInstallDirs' "lib" in its cache: that plain
# default is taken for not chosen.)
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE
   AND (NOT DEFINED CMAKE_INSTALL_LIBDIR OR CMAKE_INSTALL_LIBDIR STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (LIBDIR)" FORCE)
endif()
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME programs)
