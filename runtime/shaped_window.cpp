#include "runtime/shaped_window.h"

#include <QBitmap>
#include <QWidget>

#include <cmath>

namespace iit::gui {

QRegion ShapeOfPicture(const QImage& picture, QRgb transparent) {
    if (picture.isNull()) return {};
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int scale = std::max(1, static_cast<int>(std::lround(picture.devicePixelRatio())));
    const int width = image.width() / scale, height = image.height() / scale;
    const QRgb key = transparent & 0xFFFFFF;
    // A mono image: colour index 1 (color1) marks the pixels that belong to the shape.
    QImage mask(width, height, QImage::Format_MonoLSB);
    mask.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mask.fill(0);
    bool any = false;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool inside = false;
            for (int dy = 0; dy < scale && !inside; ++dy) {
                const QRgb* row =
                    reinterpret_cast<const QRgb*>(image.constScanLine(y * scale + dy));
                for (int dx = 0; dx < scale && !inside; ++dx)
                    inside = (row[x * scale + dx] & 0xFFFFFF) != key;
            }
            if (inside) {
                mask.scanLine(y)[x >> 3] |= static_cast<uchar>(1u << (x & 7));
                any = true;
            }
        }
    }
    if (!any) return {};
    return QRegion(QBitmap::fromImage(mask));
}

bool SetWindowShape(QWidget* window, const QImage& picture, QRgb transparent) {
    const QRegion shape = ShapeOfPicture(picture, transparent);
    if (shape.isEmpty()) return false;
    window->setMask(shape);
    return true;
}

} // namespace iit::gui
