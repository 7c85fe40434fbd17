# Warnings for our own targets; third-party headers come in as SYSTEM includes.
function(orvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()
