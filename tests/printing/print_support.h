#pragma once
// A batch sheet over the built-in rate table, with the built-in print template in the data
// directory: what the tests of the printed table start from.

#include "resources/print_template.h"
#include "tests/batch/batch_support.h"

#include <filesystem>
#include <string>

namespace iit::testing {

class PrintFixture : public BatchFixture {
protected:
    std::filesystem::path templateFile;

    void SetUp() override {
        BatchFixture::SetUp();
        templateFile = dir / "print.dbf";
        const ByteSet& b = resources::builtInPrintTemplate();
        writeFile(templateFile, std::string(b.begin(), b.end()));
    }
};

} // namespace iit::testing
