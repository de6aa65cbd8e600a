#include "ledger/window/ledger_location_dialog.h"

#include "gui/units.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/postgres/pq.h"
#include "ui_LedgerLocationDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStyle>

#include <cstdlib>

namespace iit::ledger {
namespace {

QSettings userSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("iitcalc"),
                     QStringLiteral("iitcalc"));
}

const QString kKey = QStringLiteral("ledger/location");

} // namespace

std::optional<std::string> chosenLedgerLocation() {
    if (const char* env = std::getenv("IITCALC_LEDGER"); env && *env) return std::string(env);
    const QString kept = userSettings().value(kKey).toString();
    if (kept.isEmpty()) return std::nullopt;
    return kept.toStdString();
}

void chooseLedgerLocation(const std::optional<std::string>& location) {
    QSettings settings = userSettings();
    if (location)
        settings.setValue(kKey, QString::fromStdString(*location));
    else
        settings.remove(kKey);
}

LedgerLocationDialog::LedgerLocationDialog(QWidget* parent) : QDialog(parent) {
    Ui::LedgerLocationDialog().setupUi(this);
    m_file = gui::findUnit<QRadioButton>(this, QStringLiteral("本机文件"));
    m_server = gui::findUnit<QRadioButton>(this, QStringLiteral("服务器"));
    m_conninfo = gui::findUnit<QLineEdit>(this, QStringLiteral("连接串"));
    m_check = gui::findUnit<QLabel>(this, QStringLiteral("位置检查"));
    const std::optional<std::string> now = chosenLedgerLocation();
    (now ? m_server : m_file)->setChecked(true);
    if (now) m_conninfo->setText(QString::fromStdString(*now));
    m_conninfo->setEnabled(m_server->isChecked());
    connect(m_server, &QRadioButton::toggled, this, [this](bool on) {
        m_conninfo->setEnabled(on);
        if (on) m_conninfo->setFocus();
    });
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮测试连接")), &QPushButton::clicked,
            this, [this] { test(); });
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮确定")), &QPushButton::clicked,
            this, [this] { keep(); });
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮取消")), &QPushButton::clicked,
            this, &QDialog::reject);
}

bool LedgerLocationDialog::test() {
    const auto say = [this](const QString& text, bool good) {
        m_check->setText(text);
        m_check->setProperty("good", good);
        m_check->style()->unpolish(m_check);
        m_check->style()->polish(m_check);
        return good;
    };
    const std::string conninfo = m_conninfo->text().trimmed().toStdString();
    if (!isServerLedger(conninfo))
        return say(QStringLiteral("连接串以 postgresql:// 开头，例如 postgresql://服务器/数据库"),
                   false);
    if (const std::string problem = pq::conninfoProblem(conninfo); !problem.empty())
        return say(QStringLiteral("连接串有误：") + QString::fromStdString(problem), false);
    if (pq::holdsPassword(conninfo))
        return say(QStringLiteral("连接串中有密码：请把密码放在 ~/.pgpass 或 PGPASSWORD 中，"
                                  "本程序不保存密码"),
                   false);
    Outcome<std::unique_ptr<LedgerStore>> store = openPostgresStore(conninfo);
    if (!store) return say(QString::fromStdString(store.problem().message.toUtf8()), false);
    Outcome<std::vector<int>> years = (*store)->years();
    if (!years) return say(QString::fromStdString(years.problem().message.toUtf8()), false);
    return say(years->empty() ? QStringLiteral("连接成功：服务器上的台账是空的")
                              : QStringLiteral("连接成功：服务器上的台账有%1年至%2年的工资")
                                    .arg(years->front())
                                    .arg(years->back()),
               true);
}

void LedgerLocationDialog::keep() {
    if (m_server->isChecked()) {
        if (!test()) return;
        chooseLedgerLocation(m_conninfo->text().trimmed().toStdString());
    } else {
        chooseLedgerLocation(std::nullopt);
    }
    accept();
}

} // namespace iit::ledger
