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

# The Qt side of a subsystem: a static library with moc, uic and rcc. A window's Designer
# template and its pictures lie beside its class; uic generates no auto-connections (each window
# binds its events in one place) and every connect names its context object.
#   iit_window_library(NAME SOURCES... [LINK libraries...])
function(iit_window_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINK")
    add_library(${name} STATIC ${arg_UNPARSED_ARGUMENTS})
    # The compiler predefines AUTOMOC collects are those of C++17, under which <compare> does not
    # parse: moc runs without them.
    set_target_properties(${name} PROPERTIES
        AUTOMOC ON
        AUTOMOC_COMPILER_PREDEFINES OFF
        AUTOUIC ON
        AUTOUIC_OPTIONS "-a"
        AUTORCC ON)
    target_link_libraries(${name} PUBLIC Qt6::Widgets ${arg_LINK})
    target_compile_definitions(${name} PUBLIC QT_NO_CONTEXTLESS_CONNECT)
    iit_set_warnings(${name})
endfunction()
