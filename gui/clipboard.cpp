// The system clipboard as the system's texts.
#include "gui/clipboard.h"

#include "gui/qt_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace iit::gui {

void setClipboardText(const Text& text) {
    const std::size_t end = text.view().find('\0');
    const QString unicode = end == std::string_view::npos
                                ? toQString(text)
                                : toQString(Text::fromBytes(text.view().substr(0, end)));
    QGuiApplication::clipboard()->setText(unicode);
}

std::optional<Text> clipboardText() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) return std::nullopt;
    return fromQString(data->text());
}

} // namespace iit::gui
