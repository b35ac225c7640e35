# Compiler settings shared by every target of the project.
#
# Narrow literals are stored in code page 936: the program keeps all of its
# texts in that code page and converts to UTF-8 only at its edges. The
# compiler is told GB18030, the superset of code page 936 that agrees with it
# on every double-byte character, because libstdc++'s <chrono> holds a "µ"
# literal that code page 936 cannot encode and so would not compile.
# tests/util/literal_charset_test.cpp checks that the texts come out as
# code page 936.
#
# Clang stores narrow literals in UTF-8 only. It builds the fuzz targets
# (TOMERACK_FUZZ), which feed the parsers bytes and do not depend on how the
# program's own messages are encoded; the program itself needs GCC.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(TOMERACK_CHARSET_OPTION -fexec-charset=GB18030)
elseif(TOMERACK_FUZZ)
  set(TOMERACK_CHARSET_OPTION "")
else()
  message(FATAL_ERROR "Build with GCC: the program's texts need -fexec-charset=GB18030 "
                      "(Clang only for the fuzz targets, preset fuzz)")
endif()

function(tomerack_target_defaults target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wformat=2 -Wsuggest-override
    ${TOMERACK_CHARSET_OPTION})
  # GCC 12 reports impossible overlaps in std::string's operator+ when it
  # inlines it at -O2 (GCC bug 105329); the warning says nothing about our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(TOMERACK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
