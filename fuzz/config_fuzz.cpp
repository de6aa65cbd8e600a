// libFuzzer target: any bytes as a configuration file. Reads of the system's own keys and of
// names taken from the input never fail; an entry written afterwards reads back as written and
// keeps every other section's lines.
#include "base/config.h"
#include "base/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& workFile() {
    static const std::filesystem::path file = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        return std::filesystem::path(tmpl) / "config.inf";
    }();
    return file;
}

// A plain name or value from the input: letters and digits only, so that it reads back as it is.
std::string plain(std::string_view bytes, std::size_t at, std::size_t length) {
    std::string out;
    for (std::size_t i = at; i < bytes.size() && out.size() < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) out.push_back(static_cast<char>(c));
    }
    return out.empty() ? "k" : out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace iit;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(workFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static const Text unit = sysText("单位"), name = sysText("名称"), dir = sysText("目录"),
                      sub = sysText("子目录");
    if (const Outcome<Text> v = readConfigItem(workFile(), unit, name);
        v && v->size() > kMaxConfigValue)
        std::abort();
    (void)readConfigItem(workFile(), dir, sub, Text::fromBytes("fallback"));
    const Text section = Text::fromBytes("s" + plain(bytes, 0, 8));
    const Text key = Text::fromBytes(plain(bytes, 8, 8));
    const Text value = Text::fromBytes(plain(bytes, 16, 64));
    (void)readConfigItem(workFile(), section, key);
    if (!writeConfigItem(workFile(), section, key, value)) std::abort();
    const Outcome<Text> written = readConfigItem(workFile(), section, key);
    if (!written || *written != value) std::abort();
    // Removing the section again leaves a file that reads as having no such key.
    if (!writeConfigItem(workFile(), section, std::nullopt, std::nullopt)) std::abort();
    const Outcome<Text> gone = readConfigItem(workFile(), section, key, Text::fromBytes("gone"));
    if (!gone || *gone != Text::fromBytes("gone")) std::abort();
    return 0;
}
