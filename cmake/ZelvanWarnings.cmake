# Warning flags for every target of this project, and the sanitizer build.
add_library(zelvan_warnings INTERFACE)
if(MSVC)
  # cl and clang-cl take MSVC's flags.
  target_compile_options(zelvan_warnings INTERFACE /W4)
  if(ZELVAN_WARNINGS_AS_ERRORS)
    target_compile_options(zelvan_warnings INTERFACE /WX)
  endif()
elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(zelvan_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                   -Wno-sign-conversion)
  if(ZELVAN_WARNINGS_AS_ERRORS)
    target_compile_options(zelvan_warnings INTERFACE -Werror)
  endif()
endif()

if(ZELVAN_SANITIZE)
  if(MSVC OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "ZELVAN_SANITIZE needs GCC or clang, not ${CMAKE_CXX_COMPILER_ID}")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
