#include "runtime/template_pictures.h"

#include "runtime/units.h"

namespace iit::gui {
namespace {

constexpr UnitPicture kBatchWindow[] = {
    {"图形按钮打开", "command_open"},      {"图形按钮保存", "command_save"},
    {"图形按钮计算", "command_calculate"}, {"图形按钮全选", "command_select_all"},
    {"图形按钮复制", "command_copy"},      {"图形按钮打印", "command_print"},
    {"图形按钮清空", "command_clear"},
};

constexpr UnitPicture kRateTableWindow[] = {
    {"超级按钮税率保存", "rate_save"},
    {"超级按钮1", "rate_restore"},
};

} // namespace

std::span<const UnitPicture> BatchWindowPictures() {
    return kBatchWindow;
}

std::span<const UnitPicture> RateTableWindowPictures() {
    return kRateTableWindow;
}

void SetUnitPictures(QWidget* window, std::span<const UnitPicture> pictures) {
    for (const UnitPicture& entry : pictures) {
        QWidget* unit = FindUnit<QWidget>(window, QString::fromUtf8(entry.unit));
        const QString name = QString::fromLatin1(entry.picture);
        const QPixmap picture = LoadPicture(name, unit->devicePixelRatioF());
        if (auto* button = qobject_cast<ImageButton*>(unit))
            button->setPicture(picture, name);
        else if (auto* key = qobject_cast<PictureButton*>(unit))
            key->setPicture(picture, name);
        else if (auto* box = qobject_cast<PictureBox*>(unit))
            box->setPicture(picture, name);
        else
            FatalError(5, sysText("数据或数组类型不匹配"));
    }
}

} // namespace iit::gui
