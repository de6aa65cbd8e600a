#include "gui/template_pictures.h"

#include "gui/units.h"

namespace iit::gui {

void setUnitPictures(QWidget* window, std::span<const UnitPicture> pictures) {
    for (const UnitPicture& entry : pictures) {
        QWidget* unit = findUnit<QWidget>(window, QString::fromUtf8(entry.unit));
        const QString name = QString::fromLatin1(entry.picture);
        const QPixmap picture = loadPicture(name, unit->devicePixelRatioF());
        if (auto* button = qobject_cast<ImageButton*>(unit))
            button->setPicture(picture, name);
        else if (auto* key = qobject_cast<PictureButton*>(unit))
            key->setPicture(picture, name);
        else if (auto* box = qobject_cast<PictureBox*>(unit))
            box->setPicture(picture, name);
        else
            fatalError(5, sysText("数据或数组类型不匹配"));
    }
}

} // namespace iit::gui
