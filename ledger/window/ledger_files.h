#pragma once
// The file dialog of the ledger window and its opening-balances dialog: spreadsheet files to
// import from (.xlsx, .xls, .csv) or an .xlsx to export to, starting in the user's documents.

#include <QString>

#include <filesystem>
#include <optional>

class QWidget;

namespace iit::ledger {

std::optional<std::filesystem::path> chooseSheetFile(QWidget* parent, bool save,
                                                     const QString& proposedName);

} // namespace iit::ledger
