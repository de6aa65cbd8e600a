#include "printing/template_file.h"

#include "resources/print_template.h"
#include "runtime/files.h"

namespace iit::printing {

Text PrintTemplatePath() {
    return JoinPath(ProgramDirectory(), "print.dbf");
}

bool EnsurePrintTemplateFile(const Text& path) {
    if (FileExists(path)) return true;
    return WriteFile(path, resources::BuiltInPrintTemplate());
}

} // namespace iit::printing
