#pragma once
// A window shaped by a picture: the window becomes the region of the picture's pixels that are
// not the transparent colour (white by default).
//
// Where the desktop composites windows with their alpha channel, the window is also translucent
// and draws translucentPicture(): the anti-aliased edge of the picture, drawn against the
// transparent colour, becomes partly transparent again, so that the rounded corners are smooth
// on any desktop. Elsewhere the shape (a mask) alone cuts the window out.

#include <QImage>
#include <QPixmap>
#include <QRegion>

#include <optional>

class QWidget;

namespace iit::gui {

constexpr QRgb kDefaultTransparent = 0xFFFFFF;

// The region, in device-independent pixels, of the pixels of `picture` whose colour is not
// `transparent`. On a picture drawn for a dense screen a pixel counts as soon as one of the
// device pixels it covers does.
QRegion shapeOfPicture(const QImage& picture, QRgb transparent = kDefaultTransparent);

// Shapes `window`; false (and no shape) when the picture is empty or wholly transparent.
bool setWindowShape(QWidget* window, const QImage& picture, QRgb transparent = kDefaultTransparent);

// `picture` with alpha: the transparent colour wholly transparent, and each pixel at the edge of
// the shape as transparent as its blend with the transparent colour shows (the colour of the
// shape beside it tells how much of each it holds). Premultiplied; the device pixel ratio stays.
QImage translucentPicture(const QImage& picture, QRgb transparent = kDefaultTransparent);

// Whether the desktop composites windows with their alpha channel: always under Wayland, under
// X11 while a compositing manager holds the screen's _NET_WM_CM_Sn selection.
bool desktopComposites();
// Tests tell the program what the desktop does; nullopt asks the desktop again.
void setDesktopCompositesForTesting(std::optional<bool> composites);

// Shapes `window` by `picture` (the mask always, so that clicks outside the shape go to what is
// below) and, where the desktop composites, makes it translucent. Returns what the window is to
// draw as its background: the translucent picture or the picture itself. Called before the
// window is first shown.
QPixmap shapeWindowByPicture(QWidget* window, const QPixmap& picture,
                             QRgb transparent = kDefaultTransparent);

} // namespace iit::gui
