#pragma once
// A window shaped by a picture: the window becomes the region of the picture's pixels that are
// not the transparent colour (white by default).

#include <QImage>
#include <QRegion>

class QWidget;

namespace iit::gui {

constexpr QRgb kDefaultTransparent = 0xFFFFFF;

// The region, in device-independent pixels, of the pixels of `picture` whose colour is not
// `transparent`. On a picture drawn for a dense screen a pixel counts as soon as one of the
// device pixels it covers does.
QRegion ShapeOfPicture(const QImage& picture, QRgb transparent = kDefaultTransparent);

// Shapes `window`; false (and no shape) when the picture is empty or wholly transparent.
bool SetWindowShape(QWidget* window, const QImage& picture, QRgb transparent = kDefaultTransparent);

} // namespace iit::gui
