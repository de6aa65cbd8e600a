// make_rate_table DESCRIPTION OUTPUT: builds the built-in bracket table file from its
// readable description (resources/rate_table_default.txt).
#include "tools/rate_table_description.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_rate_table DESCRIPTION OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "make_rate_table: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    iit::tools::RateTableDescription description;
    std::string error;
    if (!iit::tools::parseRateTableDescription(text.str(), description, error)) {
        std::cerr << "make_rate_table: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    const std::string bytes = iit::tools::buildRateTableFile(description);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "make_rate_table: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
