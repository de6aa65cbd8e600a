// GBK texts to Qt strings and back, and the line breaks widgets show.
#include "runtime/qt_text.h"

namespace iit {

QString toQString(const Text& text) {
    return QString::fromStdString(text.toUtf8());
}

Text fromQString(const QString& text) {
    return Text::fromUtf8(text.toStdString());
}

QString displayLineBreaks(QString text) {
    if (!text.contains(u'\r')) return text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

QString displayText(const Text& text) {
    return displayLineBreaks(toQString(text));
}

QString displayText(const Text& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return displayText(text);
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t next = end + (isLeadByte(text.at(end)) ? 2 : 1);
        if (next > maxBytes) break;
        end = next;
    }
    return displayText(Text::fromBytes(text.view().substr(0, end))) + QChar(0x2026);
}

} // namespace iit
