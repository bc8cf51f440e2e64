# Compiler settings every target of the project shares.
add_library(ncdrill_options INTERFACE)
target_compile_options(ncdrill_options INTERFACE -Wall -Wextra -Wpedantic)
if(NCDRILL_WERROR)
  target_compile_options(ncdrill_options INTERFACE -Werror)
endif()
if(NCDRILL_SANITIZERS)
  target_compile_options(ncdrill_options INTERFACE
    -fsanitize=${NCDRILL_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(ncdrill_options INTERFACE -fsanitize=${NCDRILL_SANITIZERS})
endif()
