#include "grid/column_widths.h"

#include <QSettings>
#include <QStringList>

#include <memory>

namespace iit::gui {

namespace {

constexpr int kNarrowest = 8;
constexpr int kWidest = 2000;

std::shared_ptr<QSettings> userSettings() {
    return std::make_shared<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("iitcalc"), QStringLiteral("iitcalc"));
}

QString widthsKey(const QString& key) {
    return key + QStringLiteral("/columnWidths");
}

} // namespace

Connection keepColumnWidths(Grid& grid, const QString& key) {
    // One settings object for the window's life: a drag of a header changes the width many
    // times, and the object writes its file when the event loop is idle and when it goes.
    std::shared_ptr<QSettings> settings = userSettings();
    {
        const QStringList kept = settings->value(widthsKey(key)).toStringList();
        // A list of another layout (another version's columns) is not applied at all.
        if (kept.size() == grid.columnCount())
            for (int c = 0; c < grid.columnCount(); ++c) {
                bool ok = false;
                const int width = kept[c].toInt(&ok);
                if (ok && width >= kNarrowest && width <= kWidest && !grid.isColumnHidden(c))
                    grid.setColumnWidth(c, width);
            }
    }
    return grid.events().columnResized.connect([&grid, key, settings](int) {
        QStringList widths;
        for (int c = 0; c < grid.columnCount(); ++c)
            widths << QString::number(grid.columnWidth(c));
        settings->setValue(widthsKey(key), widths);
    });
}

} // namespace iit::gui
