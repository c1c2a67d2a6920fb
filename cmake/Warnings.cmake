# Warnings on and treated as errors, for the project's own targets only.
function(orvet_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wsign-conversion -Werror)
endfunction()
