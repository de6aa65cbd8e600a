# Script mode: turns the bytes of INPUT into a C++ source that defines
#   const unsigned char NAME[]; const std::size_t NAME_size;
# in namespace iit::resources. Called by iit_embed_file() at build time.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT_NAME} at build time; do not edit.\n"
    "#include <cstddef>\n"
    "namespace iit::resources {\n"
    "extern const unsigned char ${NAME}[];\n"
    "extern const std::size_t ${NAME}_size;\n"
    "const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n"
    "const std::size_t ${NAME}_size = ${size};\n"
    "} // namespace iit::resources\n")
