# Project-wide helpers: warning flags of every target, and files compiled in as bytes.
function(iit_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor
                                             -Wimplicit-fallthrough
                                             $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>)
endfunction()

# Compiles the bytes of FILE into TARGET as iit::resources::NAME and NAME_size.
function(iit_embed_file target name file)
    get_filename_component(input "${file}" ABSOLUTE)
    get_filename_component(inputName "${file}" NAME)
    set(output "${CMAKE_CURRENT_BINARY_DIR}/embedded_${name}.cpp")
    add_custom_command(
        OUTPUT "${output}"
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DINPUT_NAME=${inputName} -DOUTPUT=${output}
                -DNAME=${name} -P "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
        DEPENDS "${input}" "${PROJECT_SOURCE_DIR}/cmake/EmbedFile.cmake"
        VERBATIM)
    target_sources(${target} PRIVATE "${output}")
endfunction()
