#pragma once
// The dialog of opening balances (OpeningDialog.ui): the grid of OpeningSheet, stored through the
// ledger sheet as one undoable action when the clerk confirms; or a spreadsheet of balances
// imported instead.

#include "ledger/window/ledger_sheet.h"
#include "ledger/window/opening_sheet.h"

#include <QDialog>

namespace iit::gui {
class GridView;
}

namespace iit::ledger {

class OpeningDialog : public QDialog {
    Q_OBJECT

public:
    OpeningDialog(LedgerSheet& sheet, std::vector<OpeningPerson> people, QWidget* parent);

    gui::GridView* gridView() const { return m_grid; }
    OpeningSheet& openings() { return m_openings; }

    // Stores the grid; stays open (after the message) when the ledger refuses it.
    void confirm();
    void importFile();

private:
    LedgerSheet& m_sheet;
    OpeningSheet m_openings;
    gui::GridView* m_grid = nullptr;
};

} // namespace iit::ledger
