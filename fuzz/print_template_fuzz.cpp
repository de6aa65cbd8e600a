// libFuzzer target: any bytes as a print template. Decoding never reads outside the bytes, and a
// template that decodes encodes to bytes that decode to the same template.
#include "printing/print_template.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit::printing;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<PrintTemplate> decoded = decodePrintTemplate(bytes, &error);
    if (!decoded) {
        if (error.empty()) std::abort(); // a refusal always says why
        return 0;
    }
    const std::string encoded = encodePrintTemplate(*decoded);
    const std::optional<PrintTemplate> again = decodePrintTemplate(encoded);
    if (!again || !(*again == *decoded)) std::abort();
    return 0;
}
