#include "printing/template_file.h"

#include "resources/print_template.h"
#include "base/files.h"

namespace iit::printing {

std::filesystem::path PrintTemplatePath() {
    return JoinPath(ProgramDirectory(), "print.dbf");
}

bool EnsurePrintTemplateFile(const std::filesystem::path& path) {
    if (FileExists(path)) return true;
    return WriteFile(path, resources::BuiltInPrintTemplate()).ok();
}

} // namespace iit::printing
