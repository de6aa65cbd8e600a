// make_print_template DESCRIPTION OUTPUT: builds the built-in print template "print.dbf" from
// its readable description (resources/print_template.txt).
//
// What the file's free bits mean (printing reads them the same way):
// - format word bits 4-7, the borders: 1 left, 2 top, 4 right, 8 bottom (the title has none,
//   the employer row a rule under it, the header and person rows a full box, the last row a
//   rule on top that closes the table);
// - format word bits 18-21, the merge marks: bit 18 joins the cell with its left neighbour,
//   19 with its right one, 20 with the cell above, 21 with the cell below; the title row's
//   eight cells are joined into one area whose first cell holds the text;
// - the last 20 bytes, after the four margins: paper code 2 (A4), orientation 1 (landscape),
//   1 copy, scale code -1 (the table's width fitted to the printable width) and 3 header
//   rows (title, employer and date, column headers) repeated on every page.
#include "tools/print_template_description.h"

#include <fstream>
#include <iostream>
#include <sstream>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_print_template DESCRIPTION OUTPUT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "make_print_template: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    iit::printing::PrintTemplate parsed;
    std::string error;
    if (!iit::tools::parsePrintTemplateDescription(text.str(), parsed, error)) {
        std::cerr << "make_print_template: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    const std::string bytes = iit::printing::encodePrintTemplate(parsed);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::cerr << "make_print_template: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
