# One place for the warning flags of every target of the project.
function(iit_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
                                             -Wnon-virtual-dtor -Wimplicit-fallthrough)
endfunction()
