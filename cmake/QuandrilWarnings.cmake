# Warnings are on everywhere and kept at zero.
function(quandril_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  # g++ 12 at -O2 reports overlapping copies inside std::string's own operator+ that cannot happen
  # (a known false positive of that release); the check is kept for every other compiler.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  # The presets that tests and CI build with stop at the first warning, so none creeps in.
  if(QUANDRIL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
