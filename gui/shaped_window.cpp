#include "gui/shaped_window.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#if IIT_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace iit::gui {

QRegion shapeOfPicture(const QImage& picture, QRgb transparent) {
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

bool setWindowShape(QWidget* window, const QImage& picture, QRgb transparent) {
    const QRegion shape = shapeOfPicture(picture, transparent);
    if (shape.isEmpty()) return false;
    window->setMask(shape);
    return true;
}

QImage translucentPicture(const QImage& picture, QRgb transparent) {
    if (picture.isNull()) return {};
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    const QRgb key = transparent & 0xFFFFFF;
    auto at = [&](int x, int y) {
        return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x] & 0xFFFFFF;
    };
    // 0: the transparent colour; 1: the edge, beside it; 2: inside.
    std::vector<std::uint8_t> kind(static_cast<std::size_t>(w) * h, 2);
    auto kindAt = [&](int x, int y) -> std::uint8_t& {
        return kind[static_cast<std::size_t>(y) * w + x];
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (at(x, y) == key) kindAt(x, y) = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (kindAt(x, y) == 0) continue;
            for (int dy = -1; dy <= 1 && kindAt(x, y) == 2; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h && kindAt(nx, ny) == 0) {
                        kindAt(x, y) = 1;
                        break;
                    }
                }
        }

    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(picture.devicePixelRatio());
    const int keyChannel[3] = {qRed(key), qGreen(key), qBlue(key)};
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb c = at(x, y);
            if (kindAt(x, y) == 0) {
                row[x] = 0;
                continue;
            }
            if (kindAt(x, y) == 2) {
                row[x] = 0xFF000000 | c;
                continue;
            }
            // An edge pixel is a blend a·S + (1 − a)·T of the shape's colour S and the
            // transparent colour T. S is read from the inside pixels next to it (two pixels out
            // when there are none next to it); a is then what each channel says, the channel with
            // the most contrast between S and T having the last word.
            int sum[3] = {0, 0, 0}, count = 0;
            for (int reach = 1; reach <= 2 && count == 0; ++reach)
                for (int dy = -reach; dy <= reach; ++dy)
                    for (int dx = -reach; dx <= reach; ++dx) {
                        const int nx = x + dx, ny = y + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h || kindAt(nx, ny) != 2) continue;
                        const QRgb s = at(nx, ny);
                        sum[0] += qRed(s);
                        sum[1] += qGreen(s);
                        sum[2] += qBlue(s);
                        ++count;
                    }
            const int channel[3] = {qRed(c), qGreen(c), qBlue(c)};
            double alpha = 1;
            if (count > 0) {
                int contrast = 0;
                for (int i = 0; i < 3; ++i) {
                    const double shape = static_cast<double>(sum[i]) / count;
                    const double span = keyChannel[i] - shape;
                    if (std::abs(span) < 24 || std::abs(span) <= contrast) continue;
                    contrast = static_cast<int>(std::abs(span));
                    alpha = (keyChannel[i] - channel[i]) / span;
                }
                alpha = std::clamp(alpha, 0.0, 1.0);
            }
            // Premultiplied, the blend less the transparent colour's share is exact whatever S.
            int premultiplied[3];
            for (int i = 0; i < 3; ++i)
                premultiplied[i] = std::clamp(
                    static_cast<int>(std::lround(channel[i] - (1 - alpha) * keyChannel[i])), 0,
                    static_cast<int>(std::lround(alpha * 255)));
            row[x] = qRgba(premultiplied[0], premultiplied[1], premultiplied[2],
                           static_cast<int>(std::lround(alpha * 255)));
        }
    }
    return out;
}

namespace {

std::optional<bool> g_compositesForTesting;

#if IIT_HAVE_XCB
// An X11 desktop composites while a compositing manager owns _NET_WM_CM_S<screen>.
bool x11Composites(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int screens = xcb_setup_roots_length(setup);
    for (int screen = 0; screen < screens; ++screen) {
        const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr);
        if (!atom) continue;
        const xcb_atom_t selection = atom->atom;
        std::free(atom);
        if (selection == XCB_ATOM_NONE) continue;
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, selection), nullptr);
        const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
        std::free(owner);
        if (owned) return true;
    }
    return false;
}
#endif

} // namespace

bool desktopComposites() {
    if (g_compositesForTesting) return *g_compositesForTesting;
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) return true;
#if IIT_HAVE_XCB
    if (platform == QLatin1String("xcb"))
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>())
            if (xcb_connection_t* connection = x11->connection()) return x11Composites(connection);
#endif
    return false;
}

void setDesktopCompositesForTesting(std::optional<bool> composites) {
    g_compositesForTesting = composites;
}

QPixmap shapeWindowByPicture(QWidget* window, const QPixmap& picture, QRgb transparent) {
    const QImage image = picture.toImage();
    setWindowShape(window, image, transparent);
    if (!desktopComposites()) {
        window->setAttribute(Qt::WA_TranslucentBackground, false);
        return picture;
    }
    window->setAttribute(Qt::WA_TranslucentBackground);
    return QPixmap::fromImage(translucentPicture(image, transparent));
}

} // namespace iit::gui
