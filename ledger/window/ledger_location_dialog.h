#pragma once
// Where the ledger is kept (LedgerLocationDialog.ui): this computer's file, or a PostgreSQL
// server's ledger named by a connection string. The choice is the user's (their settings), and
// a server is tried before it is taken: the ledger it holds is opened (its tables made when it
// has none), and a connection string that holds a password is refused, for the settings would
// keep it.
#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QRadioButton;

namespace iit::ledger {

// The user's choice: a server's connection string, or none for the data directory's file.
// IITCALC_LEDGER, where it is set, stands before it.
std::optional<std::string> chosenLedgerLocation();
void chooseLedgerLocation(const std::optional<std::string>& location);

class LedgerLocationDialog : public QDialog {
    Q_OBJECT

public:
    explicit LedgerLocationDialog(QWidget* parent);

    // Tries the server named; says how it went.
    bool test();
    // Keeps the choice (after a successful test of a server) and closes.
    void keep();

private:
    QRadioButton* m_file = nullptr;
    QRadioButton* m_server = nullptr;
    QLineEdit* m_conninfo = nullptr;
    QLabel* m_check = nullptr;
};

} // namespace iit::ledger
