# Warnings on for our own code; third-party headers come in as system includes. They are errors only where we build
# (the presets set VELL_WERROR), so a distribution's newer compiler is not stopped by a warning we have not seen yet.
option(VELL_WERROR "Treat warnings in our own code as errors" OFF)

function(vell_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic $<$<BOOL:${VELL_WERROR}>:-Werror>)
endfunction()
