#include "resources/print_template.h"

#include <cstddef>

namespace iit::resources {

extern const unsigned char print_template[];
extern const std::size_t print_template_size;

const ByteSet& BuiltInPrintTemplate() {
    static const ByteSet bytes(print_template, print_template + print_template_size);
    return bytes;
}

} // namespace iit::resources
