// The system clipboard as GBK texts.
#include "gui/clipboard.h"

#include "gui/qt_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <limits>

namespace iit::gui {

void SetClipboardText(const Text& text) {
    const std::size_t end = text.view().find('\0');
    const QString unicode = end == std::string_view::npos
                                ? toQString(text)
                                : toQString(Text::fromBytes(text.view().substr(0, end)));
    QGuiApplication::clipboard()->setText(unicode);
}

std::optional<Text> ClipboardText() {
    return ClipboardText(std::numeric_limits<std::size_t>::max());
}

std::optional<Text> ClipboardText(std::size_t maxLines) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) return std::nullopt;
    const QString text = data->text();
    // The text before the maxLines-th LF holds the first maxLines lines; the CR of that line
    // break goes too, as a paste drops it.
    qsizetype end = text.size();
    qsizetype lf = -1;
    for (std::size_t line = 0; line < maxLines; ++line) {
        lf = text.indexOf(u'\n', lf + 1);
        if (lf < 0) break;
    }
    if (maxLines == 0) {
        end = 0;
    } else if (lf >= 0) {
        end = lf > 0 && text[lf - 1] == u'\r' ? lf - 1 : lf;
    }
    return fromQString(end == text.size() ? text : text.first(end));
}

} // namespace iit::gui
