# Warning flags every target of the project compiles with.
add_library(sonrigo_warnings INTERFACE)
target_compile_options(sonrigo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(SONRIGO_WERROR)
  target_compile_options(sonrigo_warnings INTERFACE -Werror)
endif()
