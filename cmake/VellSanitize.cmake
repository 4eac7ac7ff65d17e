# Sanitizers for the whole build from one list, e.g. VELL_SANITIZE="address,undefined". Every target, ours and the
# test frameworks' object files alike, is compiled with them, so the flags go on the directory rather than per target.
# The fuzz build adds fuzzer-no-link to the compile flags only; its targets link -fsanitize=fuzzer themselves.
set(VELL_SANITIZE "" CACHE STRING "Comma-separated -fsanitize= list for every target (empty: none)")

if(VELL_SANITIZE)
    set(vell_sanitize_compile "${VELL_SANITIZE}")
    if(VELL_BUILD_FUZZ)
        string(PREPEND vell_sanitize_compile "fuzzer-no-link,")
    endif()
    # A finding stops the program (no recovery), and the reports carry full stacks.
    add_compile_options(-fsanitize=${vell_sanitize_compile} -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${VELL_SANITIZE})
endif()
