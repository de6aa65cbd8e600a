#pragma once
// The pictures that the picture units of the batch and rate-table windows show when their
// window opens. The rest of those windows' look comes with their templates: the stylesheets in
// BatchWindow.ui and RateTableWindow.ui name the pictures of the panels and radio buttons
// themselves, so a window built with setupUi() and SetUnitPictures() is finished.

#include <span>

class QWidget;

namespace iit::gui {

struct UnitPicture {
    const char* unit;    // the unit's name (UTF-8)
    const char* picture; // the picture's name, as LoadPicture() takes it
};

// 图形按钮打开 to 图形按钮清空: the seven commands of the side panel.
std::span<const UnitPicture> BatchWindowPictures();
// 超级按钮税率保存 and 超级按钮1: the faces of the two command keys.
std::span<const UnitPicture> RateTableWindowPictures();

// Gives each unit of the list (an ImageButton, a PictureButton or a PictureBox) its picture,
// drawn for the screen's density. A missing unit is the runtime's fatal error.
void SetUnitPictures(QWidget* window, std::span<const UnitPicture> pictures);

} // namespace iit::gui
