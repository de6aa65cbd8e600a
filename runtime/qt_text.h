#pragma once
// The crossing between the system's texts (GBK) and Qt's strings: through UTF-8, as for every
// other edge of the system.

#include "runtime/text.h"

#include <QString>

namespace iit {

inline QString toQString(const Text& text) {
    return QString::fromStdString(text.toUtf8());
}
inline Text fromQString(const QString& text) {
    return Text::fromUtf8(text.toStdString());
}

} // namespace iit
