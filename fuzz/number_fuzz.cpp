// libFuzzer target: any bytes as an amount typed or pasted by a user. The conversions never
// fail, and the text of a finite number converts back to it within 13 significant digits.
#include "base/convert.h"
#include "base/text.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    const Text text = Text::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    const double v = ToNumber(text);
    (void)ToInteger(text);
    if (!std::isfinite(v)) return 0;
    const Text shown = ToText(v);
    const double back = ToNumber(shown);
    if (std::fabs(back - v) > std::fabs(v) * 1e-12) std::abort();
    const double rounded = Round(v, 2);
    if (!std::isfinite(rounded) && std::fabs(v) < 1e300) std::abort();
    // Within half a cent, give or take what the doubles themselves cannot hold.
    if (std::fabs(v) < 1e12 && std::fabs(rounded - v) > 0.005 + std::fabs(v) * 1e-15) std::abort();
    (void)ToInteger(v);
    return 0;
}
