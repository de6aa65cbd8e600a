#pragma once
// The balloon tip: a small bubble beside a window whose tail points at a screen point, with an
// icon and a text. It goes away on a mouse click anywhere in the program or after some seconds.

#include "runtime/text.h"

#include <QTimer>
#include <QWidget>

#include <vector>

namespace iit::gui {

class BalloonTip : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int displayStyle READ displayStyle WRITE setDisplayStyle)

public:
    explicit BalloonTip(QWidget* parent = nullptr);

    // Shows `text` pointing at `screenPoint`; icon 0 information, 1 warning, 2 error, a negative
    // number none. A bubble already showing is replaced.
    bool popUp(QPoint screenPoint, const Text& text, int icon);

    const Text& text() const { return m_text; }
    int icon() const { return m_icon; }
    QPoint tipPoint() const { return m_tip; }
    // The style number is kept for the behaviours that set it; every number draws the bubble.
    int displayStyle() const { return m_style; }
    void setDisplayStyle(int style) { m_style = style; }
    // How long a text stays up: longer texts stay longer.
    static int durationFor(const Text& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void layOut();

    Text m_text;
    QString m_shown;
    int m_icon = -1;
    int m_style = 0;
    QPoint m_tip;
    bool m_tailAbove = true; // the bubble hangs below the point
    int m_tailX = 0;         // the tail's tip, in the bubble's coordinates
    QRect m_textRect;
    struct Line {
        QString text;
        int height;
    };
    std::vector<Line> m_lines;
    QTimer m_hideTimer;
};

} // namespace iit::gui
