#pragma once
// The pictures that a window's picture units show when it opens: each window class lists its
// units and their pictures. The rest of a window's look comes with its template: the
// stylesheets of BatchWindow.ui and RateTableWindow.ui name the pictures of the panels and
// radio buttons themselves, so a window built with setupUi() and setUnitPictures() is finished.

#include <span>

class QWidget;

namespace iit::gui {

struct UnitPicture {
    const char* unit;    // the unit's name (UTF-8)
    const char* picture; // the picture's name, as loadPicture() takes it
};

// Gives each unit of the list (an ImageButton, a PictureButton or a PictureBox) its picture,
// drawn for the screen's density. A missing unit is the runtime's fatal error.
void setUnitPictures(QWidget* window, std::span<const UnitPicture> pictures);

} // namespace iit::gui
