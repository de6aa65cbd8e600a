#pragma once
// A watchdog for Qt window tests: a modal dialog that nobody expected would leave the test
// hanging in its event loop. Every 20 ms the watchdog looks for a modal dialog; an expected one
// goes to the test's handler, any other is recorded as a failure and closed.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

namespace iit::testing {

class ModalWatchdog {
public:
    using Handler = std::function<void(QWidget* dialog)>;

    ModalWatchdog() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { check(); });
        m_timer.start();
    }

    // The next modal dialog goes to `handler`, which must close it.
    void expect(Handler handler) { m_expected.push_back(std::move(handler)); }
    // The next modal dialog is a message box, answered with `answer` (its first button when it
    // has no such one); its text goes to `said`.
    void expectMessage(QMessageBox::StandardButton answer, QString* said = nullptr) {
        expect([this, answer, said](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (!box) {
                m_unexpected << QStringLiteral("not a message box: ") + describe(dialog);
                if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();
                return;
            }
            if (said) *said = box->text();
            QAbstractButton* button = box->button(answer);
            if (!button) button = box->buttons().front();
            button->click();
        });
    }
    // Dialogs that appeared without being expected ("title: text" each).
    const QStringList& unexpected() const { return m_unexpected; }
    // Expected dialogs that never appeared.
    std::size_t pending() const { return m_expected.size(); }
    void reset() {
        m_expected.clear();
        m_unexpected.clear();
    }

    static QString describe(QWidget* dialog) {
        if (auto* box = qobject_cast<QMessageBox*>(dialog))
            return box->windowTitle() + ": " + box->text();
        return dialog->metaObject()->className() + QStringLiteral(": ") + dialog->windowTitle();
    }

private:
    void check() {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible() || m_busy) return;
        // A dialog handed to a handler is its handler's until it closes (it may close later).
        for (const QPointer<QWidget>& handled : m_handled)
            if (handled == dialog) return;
        m_busy = true;
        if (!m_expected.empty()) {
            Handler handler = std::move(m_expected.front());
            m_expected.pop_front();
            m_handled.erase(std::remove_if(m_handled.begin(), m_handled.end(),
                                           [](const QPointer<QWidget>& p) { return p.isNull(); }),
                            m_handled.end());
            m_handled.emplace_back(dialog);
            handler(dialog);
        } else {
            m_unexpected << describe(dialog);
            if (auto* d = qobject_cast<QDialog*>(dialog))
                d->reject();
            else
                dialog->close();
        }
        m_busy = false;
    }

    QTimer m_timer;
    std::deque<Handler> m_expected;
    QStringList m_unexpected;
    std::vector<QPointer<QWidget>> m_handled;
    bool m_busy = false;
};

} // namespace iit::testing
