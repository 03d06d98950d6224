# Warnings are on everywhere and kept at zero.
function(quandril_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()
