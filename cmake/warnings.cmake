# Warning flags for every target of the project; -Werror only where asked (the CI build).
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Wshadow -pedantic)
if(WERROR)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()
