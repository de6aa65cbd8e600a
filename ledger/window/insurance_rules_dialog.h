#pragma once
// The cities' rules of social insurance and the housing fund (InsuranceRulesDialog.ui): the
// rules file's text to read and edit, checked as the file is read (each city's months rising,
// floors below ceilings, rates from 0 to below 100) before it is saved, the wrong line shown;
// or the built-in rules put back after the clerk confirms. The rules saved are the ledger's
// from then on.

#include "insurance/rules.h"

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QPlainTextEdit;

namespace iit::ledger {

class InsuranceRulesDialog : public QDialog {
    Q_OBJECT

public:
    // `kept`: the rules a server ledger keeps for every desk, shown in place of the file's (a
    // save writes the file too).
    explicit InsuranceRulesDialog(QWidget* parent, std::optional<std::string> kept = {});

    // The rules as saved; none until a save (or a restore) succeeded.
    const std::optional<insurance::Rules>& saved() const { return m_saved; }

    // Checks the text and saves it as it is written; stays open, the wrong line selected, when
    // it is not rules.
    void save();
    // Asks, then writes the built-in rules in the file's place.
    void restoreDefaults();

private:
    void check();

    QPlainTextEdit* m_text = nullptr;
    QLabel* m_check = nullptr;
    std::optional<insurance::Rules> m_saved;
};

} // namespace iit::ledger
