#include "printing/template_file.h"

#include "base/files.h"
#include "resources/print_template.h"

namespace iit::printing {

std::filesystem::path printTemplatePath() {
    return joinPath(programDirectory(), "print.dbf");
}

bool ensurePrintTemplateFile(const std::filesystem::path& path) {
    if (fileExists(path)) return true;
    return writeWholeFile(path, resources::builtInPrintTemplate()).ok();
}

} // namespace iit::printing
