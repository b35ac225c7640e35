# Compiler settings shared by every target of the project.
#
# Narrow literals are stored in code page 936: the program keeps all of its
# texts in that code page and converts to UTF-8 only at its edges. The
# compiler is told GB18030, the superset of code page 936 that agrees with it
# on every double-byte character, because libstdc++'s <chrono> holds a "µ"
# literal that code page 936 cannot encode and so would not compile.
# tests/util/literal_charset_test.cpp checks that the texts come out as
# code page 936.
function(tomerack_target_defaults target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wformat=2 -Wsuggest-override
    -fexec-charset=GB18030)
  # GCC 12 reports impossible overlaps in std::string's operator+ when it
  # inlines it at -O2 (GCC bug 105329); the warning says nothing about our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TOMERACK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
