#include "resources/resources.h"

#include <cstddef>

namespace iit::resources {

extern const unsigned char rate_table_default[];
extern const std::size_t rate_table_default_size;

const ByteSet& DefaultRateTable() {
    static const ByteSet bytes(rate_table_default, rate_table_default + rate_table_default_size);
    return bytes;
}

} // namespace iit::resources
