# Strict warnings for the project's own targets only; third-party headers stay quiet.
function(vostrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Werror
    # GCC 12 at -O3 reports out-of-bounds accesses inside the standard
    # library's vector code that cannot happen; keep them as warnings there.
    $<$<AND:$<CXX_COMPILER_ID:GNU>,$<CONFIG:Release>>:-Wno-error=array-bounds -Wno-error=stringop-overflow -Wno-error=stringop-overread -Wno-error=restrict>)
endfunction()
