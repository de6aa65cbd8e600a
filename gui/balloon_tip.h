#pragma once
// The balloon tip: a small bubble beside a window whose tail points at a screen point, with an
// icon and a text. It goes away on a mouse click anywhere in the program or after some seconds.
//
// Where the bubble goes is worked out by placeBalloon() alone, without a widget: below the point
// when it fits, else above it, else beside it, never over the units the window asks it to keep
// clear of (the display of the main window) and on the screen.

#include "base/text.h"

#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <vector>

namespace iit::gui {

struct BalloonPlacement {
    QRect geometry;                  // the bubble with its tail, in screen pixels
    Qt::Edge tailEdge = Qt::TopEdge; // the side the tail comes out of (top: it hangs below)
    QPoint tip;                      // where the tail points, in screen pixels
};

// Places a bubble of `body` size (without its tail) whose tail points at `point`. A point inside
// a rectangle of `keepClear` moves to just above or below it first, whichever is nearer; the
// bubble then takes the first side where it fits on `screen` without meeting any of them. When
// no side does, it keeps clear of nothing and goes on the roomier side, below or above.
BalloonPlacement placeBalloon(QSize body, QPoint point, const QRect& screen,
                              const std::vector<QRect>& keepClear);

class BalloonTip : public QWidget {
    Q_OBJECT

public:
    explicit BalloonTip(QWidget* parent = nullptr);

    // Shows `text` pointing at `screenPoint`; icon 0 information, 1 warning, 2 error, a negative
    // number none. A bubble already showing is replaced.
    bool popUp(QPoint screenPoint, const Text& text, int icon);

    // Units the bubble never covers, wherever they are on the screen when it pops up.
    void setKeepClear(const QList<QWidget*>& units);

    const Text& text() const { return m_text; }
    int icon() const { return m_icon; }
    QPoint tipPoint() const { return m_tip; }            // the point asked for
    QPoint pointedAt() const { return m_placement.tip; } // where the tail points
    Qt::Edge tailEdge() const { return m_placement.tailEdge; }
    // How long a text stays up: longer texts stay longer.
    static int durationFor(const Text& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void layOut();
    int tipAlongEdge() const; // the tail's tip along the edge it comes out of

    Text m_text;
    QString m_shown;
    int m_icon = -1;
    QPoint m_tip;
    BalloonPlacement m_placement;
    QRect m_textRect;
    struct Line {
        QString text;
        int height;
    };
    std::vector<Line> m_lines;
    std::vector<QPointer<QWidget>> m_keepClear;
    QTimer m_hideTimer;
};

} // namespace iit::gui
