// make_pictures OUTPUT_DIR [NAME...]: draws the windows' pictures (all, or the NAMEs given) into
// OUTPUT_DIR as NAME.png and, for
// high-density screens, NAME@2x.png: the main window's background and shape, button faces, kind
// buttons, indicator, mode switch and knob; the batch window's command buttons and panels; the
// rate-table window's command keys; the radio buttons of both. Run by hand after a change; the
// PNG files are committed in the pictures/ folder beside the window that shows them (the radio
// buttons in gui/pictures/) and compiled in from there. Qt's rasteriser may
// round a few edge pixels differently from one machine to another: name the pictures you
// changed, so that the others keep their committed bytes.
//
// One palette throughout: a graphite body lit from above, a pale green display, teal for what is
// chosen and for the commands, amber operators, a coral clear key and light digit keys. The
// background is drawn on pure white, which the window's shape leaves out, so no pure white is
// used inside the body.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>

#include <cstdio>
#include <functional>

namespace {

namespace colours {
const QColor bodyTop(0x45, 0x4f, 0x5e);
const QColor bodyBottom(0x24, 0x2a, 0x33);
const QColor bodyEdge(0x16, 0x1a, 0x20);
const QColor bodyHighlight(0x6a, 0x76, 0x87);
const QColor screenTop(0xd6, 0xe8, 0xde);
const QColor screenBottom(0xc3, 0xdb, 0xcd);
const QColor screenEdge(0x12, 0x16, 0x1b);
const QColor groove(0x1b, 0x20, 0x27);
const QColor grooveEdge(0x55, 0x60, 0x6f);
const QColor label(0xa9, 0xb4, 0xc2);
const QColor dimLabel(0x7d, 0x88, 0x96);
const QColor teal(0x36, 0xc2, 0xab);
const QColor tealDark(0x1d, 0x8e, 0x7e);
const QColor tealText(0x5f, 0xe0, 0xc8);
const QColor ink(0x12, 0x2b, 0x27);
const QColor guide(0x4d, 0x58, 0x68);
} // namespace colours

const QString kSans = QStringLiteral("Noto Sans CJK SC");

QFont font(double pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont f(kSans);
    f.setPointSizeF(pixelSize * 72.0 / 96.0);
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QPainterPath roundedRect(const QRectF& r, double radius) {
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

// A vertical gradient over rect r.
QLinearGradient vertical(const QRectF& r, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

// Text centred in r.
void centredText(QPainter& p, const QRectF& r, const QString& text, const QFont& f,
                 const QColor& c) {
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text);
}

using Draw = std::function<void(QPainter&)>;

bool save(const QString& dir, const QString& name, int width, int height, bool opaqueWhite,
          const Draw& draw) {
    for (int scale : {1, 2}) {
        QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(opaqueWhite ? Qt::white : Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                             QPainter::SmoothPixmapTransform);
            p.scale(scale, scale);
            draw(p);
        }
        const QString file = dir + '/' + name + (scale == 2 ? QStringLiteral("@2x") : QString()) +
                             QStringLiteral(".png");
        QImage out = opaqueWhite ? image.convertToFormat(QImage::Format_RGB32) : image;
        if (!out.save(file, "PNG", 9)) {
            std::fprintf(stderr, "make_pictures: cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

// The window: body, display panel, guides of the kind row and the switch's bed. Units sit on
// top of it at the positions of the window template.
void drawBackground(QPainter& p) {
    const QRectF body(1, 1, 373, 530);
    p.setPen(Qt::NoPen);
    p.setBrush(colours::bodyEdge);
    p.drawPath(roundedRect(body, 24));
    const QRectF inner = body.adjusted(1.5, 1.5, -1.5, -1.5);
    p.setBrush(vertical(inner, colours::bodyTop, colours::bodyBottom));
    p.drawPath(roundedRect(inner, 22.5));
    // A soft highlight along the top edge, as if lit from above.
    QLinearGradient shine(inner.topLeft(), inner.topLeft() + QPointF(0, 60));
    shine.setColorAt(0, QColor(255, 255, 255, 34));
    shine.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawPath(roundedRect(inner, 22.5));
    p.setPen(QPen(colours::bodyHighlight, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(inner.adjusted(0.5, 0.5, -0.5, -0.5), 22));

    // Title beside the employer box.
    centredText(p, QRectF(246, 14, 110, 28), QStringLiteral("个税计算器"), font(15, QFont::Bold),
                colours::label);

    // Display: a recessed panel behind the result label and the income box.
    const QRectF screen(38, 52, 300 + 12, 90);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x13, 0x18, 150));
    p.drawPath(roundedRect(screen.adjusted(-2, -2, 2, 3), 12));
    p.setBrush(vertical(screen, colours::screenTop, colours::screenBottom));
    p.drawPath(roundedRect(screen, 10));
    QLinearGradient shade(screen.topLeft(), screen.topLeft() + QPointF(0, 10));
    shade.setColorAt(0, QColor(0, 0, 0, 50));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.setBrush(shade);
    p.drawPath(roundedRect(screen, 10));
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(screen.adjusted(0.5, 0.5, -0.5, -0.5), 9.5));

    // Kind row: guides from each kind button down to its place on the indicator row.
    p.setPen(QPen(colours::guide, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath guides;
    guides.moveTo(53.5, 174);
    guides.lineTo(53.5, 183.5);
    guides.lineTo(101, 183.5);
    guides.moveTo(182.5, 174);
    guides.lineTo(182.5, 175);
    guides.moveTo(319.5, 174);
    guides.lineTo(319.5, 183.5);
    guides.lineTo(264, 183.5);
    p.drawPath(guides);

    // Section lines between the display, the choices and the keypad.
    p.setPen(QPen(QColor(0, 0, 0, 70), 1));
    p.drawLine(QPointF(24, 146.5), QPointF(351, 146.5));
    p.drawLine(QPointF(24, 227.5), QPointF(351, 227.5));
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    p.drawLine(QPointF(24, 147.5), QPointF(351, 147.5));
    p.drawLine(QPointF(24, 228.5), QPointF(351, 228.5));

    // Small engraved caption under the keypad.
    centredText(p, QRectF(0, 508, 375, 18),
                QStringLiteral("个人所得税 · 工资薪金 · 劳务报酬 · 稿酬"), font(10),
                colours::dimLabel);
}

// A key face: rounded square with a gradient, a lighter rim on top and a shadow below.
Draw keyFace(int width, int height, QColor top, QColor bottom) {
    return [=](QPainter& p) {
        const QRectF r(1, 1, width - 2, height - 3);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 90));
        p.drawPath(roundedRect(r.translated(0, 1.6), 11));
        p.setBrush(vertical(r, top, bottom));
        p.drawPath(roundedRect(r, 11));
        QLinearGradient rim(r.topLeft(), r.bottomLeft());
        rim.setColorAt(0, QColor(255, 255, 255, 120));
        rim.setColorAt(0.5, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(rim), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 10.5));
        p.setPen(QPen(QColor(0, 0, 0, 60), 1));
        p.drawPath(roundedRect(r.adjusted(0, 0, 0, 0), 11));
    };
}

// A kind button: a pill with its caption, teal when chosen.
Draw kindFace(const QString& caption, bool chosen) {
    return [=](QPainter& p) {
        const QRectF r(0.75, 0.75, 67.5, 18.5);
        if (chosen) {
            p.setPen(QPen(colours::tealDark.darker(130), 1));
            p.setBrush(vertical(r, colours::teal.lighter(115), colours::tealDark));
        } else {
            p.setPen(QPen(colours::grooveEdge, 1));
            p.setBrush(vertical(r, QColor(0x3a, 0x43, 0x50), QColor(0x2c, 0x33, 0x3d)));
        }
        p.drawPath(roundedRect(r, 9.25));
        centredText(p, r.translated(0, -0.5), caption,
                    font(12, chosen ? QFont::Bold : QFont::Normal),
                    chosen ? colours::ink : colours::label);
    };
}

// The indicator: a small lamp, bright (A) or softly lit (B); the timer alternates them.
Draw lamp(bool bright) {
    return [=](QPainter& p) {
        const QPointF c(7.5, 7.5);
        QRadialGradient glow(c, 7.5);
        glow.setColorAt(0, QColor(0x7d, 0xf5, 0xdd, bright ? 255 : 170));
        glow.setColorAt(0.55, QColor(0x36, 0xc2, 0xab, bright ? 230 : 140));
        glow.setColorAt(1, QColor(0x36, 0xc2, 0xab, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, 7.5, 7.5);
        p.setBrush(bright ? QColor(0xd8, 0xff, 0xf6) : QColor(0x5c, 0xd6, 0xc0));
        p.drawEllipse(c, bright ? 3.2 : 2.8, bright ? 3.2 : 2.8);
    };
}

// The mode switch: "自行负担" on the left, a groove the knob slides in, "雇主全额负担" on the
// right; the side in force is lit.
Draw switchFace(bool net) {
    return [=](QPainter& p) {
        const QRectF whole(0.5, 0.5, 303, 22);
        p.setPen(QPen(colours::grooveEdge, 1));
        p.setBrush(vertical(whole, QColor(0x2f, 0x36, 0x41), QColor(0x27, 0x2d, 0x36)));
        p.drawPath(roundedRect(whole, 11));
        const QRectF groove(97.5, 2.5, 103, 18);
        p.setPen(QPen(QColor(0, 0, 0, 120), 1));
        p.setBrush(colours::groove);
        p.drawPath(roundedRect(groove, 9));
        // The lit half of the groove, on the knob's side.
        const QRectF lit = net ? QRectF(150, 4, 49, 15) : QRectF(99, 4, 49, 15);
        QLinearGradient g(lit.topLeft(), lit.topRight());
        g.setColorAt(net ? 0 : 1, QColor(0x36, 0xc2, 0xab, 0));
        g.setColorAt(net ? 1 : 0, QColor(0x36, 0xc2, 0xab, 110));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawPath(roundedRect(lit, 7.5));
        centredText(p, QRectF(4, 0, 92, 22), QStringLiteral("自行负担"),
                    font(12, net ? QFont::Normal : QFont::Bold),
                    net ? colours::dimLabel : colours::tealText);
        centredText(p, QRectF(201, 0, 100, 22), QStringLiteral("雇主全额负担"),
                    font(12, net ? QFont::Bold : QFont::Normal),
                    net ? colours::tealText : colours::dimLabel);
    };
}

// The switch's knob; its second picture lights a lamp in the middle (the knob blinks).
Draw knob(bool lit) {
    return [=](QPainter& p) {
        const QRectF r(1, 1, 20, 17.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 110));
        p.drawPath(roundedRect(r.translated(0, 1.2), 8));
        p.setBrush(vertical(r, QColor(0xee, 0xf1, 0xf4), QColor(0xb5, 0xbd, 0xc7)));
        p.drawPath(roundedRect(r, 8));
        p.setPen(QPen(QColor(0x5a, 0x64, 0x72), 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedRect(r, 8));
        const QPointF c = r.center();
        p.setPen(Qt::NoPen);
        if (lit) {
            QRadialGradient glow(c, 5);
            glow.setColorAt(0, QColor(0x7d, 0xf5, 0xdd));
            glow.setColorAt(1, QColor(0x1d, 0x8e, 0x7e, 60));
            p.setBrush(glow);
            p.drawEllipse(c, 4.2, 4.2);
        } else {
            p.setBrush(QColor(0x8a, 0x94, 0xa1));
            p.drawEllipse(c, 2.6, 2.6);
        }
    };
}

// ---- The batch and rate-table windows

// A radio button's mark: a small dark well like the indicator's frames of the main window,
// with the teal lamp lit in it when chosen.
Draw radioMark(bool chosen, bool enabled) {
    return [=](QPainter& p) {
        const QPointF c(7, 7);
        p.setPen(QPen(enabled ? QColor(0x62, 0x6e, 0x7f) : QColor(0x42, 0x4a, 0x56), 1));
        p.setBrush(enabled ? QColor(0x1d, 0x22, 0x29) : QColor(0x2a, 0x30, 0x38));
        p.drawEllipse(c, 6, 6);
        if (!chosen) return;
        QRadialGradient glow(c, 5);
        glow.setColorAt(0, QColor(0x7d, 0xf5, 0xdd));
        glow.setColorAt(0.6, QColor(0x36, 0xc2, 0xab, 220));
        glow.setColorAt(1, QColor(0x36, 0xc2, 0xab, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(c, 5, 5);
        p.setBrush(QColor(0xd8, 0xff, 0xf6));
        p.drawEllipse(c, 2.2, 2.2);
    };
}

// A command button of the batch window's side panel: a round badge, teal like the main
// window's command keys (coral for clearing), with a dark glyph drawn by `glyph` in the
// badge's 32 x 30 box. The button darkens the same round shape while it is pressed.
Draw commandBadge(QColor top, QColor bottom, QColor ink,
                  const std::function<void(QPainter&)>& glyph) {
    return [=](QPainter& p) {
        const QRectF r(1, 0.5, 30, 28);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 95));
        p.drawPath(roundedRect(r.translated(0, 1.3), 14));
        p.setBrush(vertical(r, top, bottom));
        p.drawPath(roundedRect(r, 14));
        QLinearGradient rim(r.topLeft(), r.bottomLeft());
        rim.setColorAt(0, QColor(255, 255, 255, 130));
        rim.setColorAt(0.5, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(rim), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(roundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 13.5));
        p.setPen(QPen(QColor(0, 0, 0, 70), 1));
        p.drawPath(roundedRect(r, 14));
        p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        glyph(p);
    };
}

Draw tealCommand(const std::function<void(QPainter&)>& glyph) {
    return commandBadge(QColor(0x52, 0xd4, 0xbf), QColor(0x1d, 0x8e, 0x7e), colours::ink, glyph);
}

// An open folder: the back with its tab, the front tilted open and filled.
void openGlyph(QPainter& p) {
    QPainterPath back;
    back.moveTo(9, 21);
    back.lineTo(9, 8.8);
    back.lineTo(13.2, 8.8);
    back.lineTo(14.8, 10.6);
    back.lineTo(21.5, 10.6);
    back.lineTo(21.5, 13.2);
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(9, 21);
    front.lineTo(11.6, 13.6);
    front.lineTo(24.6, 13.6);
    front.lineTo(22, 21);
    front.closeSubpath();
    p.setBrush(p.pen().color());
    p.drawPath(front);
}

// A diskette: the body with a cut corner, the shutter and the label.
void saveGlyph(QPainter& p) {
    QPainterPath body;
    body.moveTo(9.5, 8);
    body.lineTo(20, 8);
    body.lineTo(23, 11);
    body.lineTo(23, 21.5);
    body.lineTo(9.5, 21.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(p.pen().color());
    p.drawRect(QRectF(12.5, 8, 6, 3.6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(12, 15.5, 8.5, 6));
}

// A pocket calculator: the case, its display and six keys, the keys on whole pixels.
void calculateGlyph(QPainter& p) {
    p.drawPath(roundedRect(QRectF(10.5, 7, 11, 14.5), 1.8));
    p.setBrush(p.pen().color());
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(12, 9, 8, 3));
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 3; ++column)
            p.drawRect(QRectF(12 + column * 3, 14 + row * 3, 2, 2));
}

// Select all: a dashed frame round a filled block.
void selectAllGlyph(QPainter& p) {
    QPen dashed = p.pen();
    dashed.setWidthF(1.3);
    dashed.setCapStyle(Qt::FlatCap);
    dashed.setDashPattern({2.2, 1.6});
    p.setPen(dashed);
    p.drawRect(QRectF(8.5, 7.5, 15, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(dashed.color());
    p.drawRect(QRectF(11.5, 10.5, 9, 8));
}

// Copy: two sheets, the front one filled with lines of text.
void copyGlyph(QPainter& p) {
    p.drawPath(roundedRect(QRectF(9, 6.8, 9.5, 11.2), 1.2));
    const QColor ink = p.pen().color();
    p.setBrush(ink);
    p.drawPath(roundedRect(QRectF(13.5, 11, 9.5, 11.5), 1.2));
    p.setPen(QPen(QColor(0x7d, 0xe6, 0xd2), 1.1, Qt::SolidLine, Qt::RoundCap));
    for (int line = 0; line < 3; ++line)
        p.drawLine(QPointF(15.6, 14.2 + line * 2.6),
                   QPointF(line == 2 ? 19 : 20.9, 14.2 + line * 2.6));
}

// A printer: the paper going in, the body with its lamp and the printed sheet coming out.
void printGlyph(QPainter& p) {
    const QColor ink = p.pen().color();
    p.drawRect(QRectF(11.5, 6.8, 9, 4.2));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPath(roundedRect(QRectF(7.8, 11, 16.4, 7.8), 1.8));
    p.setBrush(QColor(0x7d, 0xe6, 0xd2));
    p.drawEllipse(QPointF(21.3, 13.6), 1, 1);
    p.setBrush(QColor(0x3f, 0xbd, 0xa8));
    p.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawRect(QRectF(11.5, 15.8, 9, 6.4));
    p.setPen(QPen(ink, 1.1, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(13.5, 18.2), QPointF(18.5, 18.2));
    p.drawLine(QPointF(13.5, 20.3), QPointF(17, 20.3));
}

// Clear: a waste bin with its lid.
void clearGlyph(QPainter& p) {
    p.drawLine(QPointF(9, 9.6), QPointF(23, 9.6));
    p.drawLine(QPointF(13.8, 7.4), QPointF(18.2, 7.4));
    QPainterPath bin;
    bin.moveTo(10.6, 11.8);
    bin.lineTo(11.7, 22);
    bin.lineTo(20.3, 22);
    bin.lineTo(21.4, 11.8);
    p.drawPath(bin);
    p.setPen(QPen(p.pen().color(), 1.3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14.4, 13.6), QPointF(14.7, 19.6));
    p.drawLine(QPointF(17.6, 13.6), QPointF(17.3, 19.6));
}

// The payroll ledger: a bound book, its spine filled, the ruled lines of its page.
void ledgerGlyph(QPainter& p) {
    const QColor ink = p.pen().color();
    p.drawPath(roundedRect(QRectF(10, 7, 13, 15), 1.4));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawRect(QRectF(10, 7, 3.2, 15));
    p.setPen(QPen(ink, 1.1, Qt::SolidLine, Qt::RoundCap));
    for (int line = 0; line < 3; ++line)
        p.drawLine(QPointF(15.6, 11 + line * 3), QPointF(20.6, 11 + line * 3));
}

// The batch window's command panel: a raised graphite card; the separator units draw the
// dark line of each groove and the card the light edge below it.
void drawSidePanel(QPainter& p) {
    const QRectF card(0.5, 0.5, 102, 310);
    p.setPen(QPen(colours::bodyEdge, 1));
    p.setBrush(vertical(card, QColor(0x3d, 0x46, 0x53), QColor(0x2c, 0x33, 0x3d)));
    p.drawPath(roundedRect(card, 10));
    p.setPen(QPen(QColor(255, 255, 255, 30), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(card.adjusted(1, 1, -1, -1), 9));
    p.setPen(QPen(QColor(255, 255, 255, 22), 1));
    for (int y : {38, 76, 114, 152, 190, 228, 266, 304})
        p.drawLine(QPointF(15, y + 1.5), QPointF(87, y + 1.5));
}

// The batch window's help panel: a pale green screen recessed into the body, like the main
// window's display.
void drawHelpPanel(QPainter& p) {
    const QRectF well(0, 0, 103, 282);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x13, 0x18, 150));
    p.drawPath(roundedRect(well, 10));
    const QRectF screen = well.adjusted(1.5, 1.5, -1.5, -1.5);
    p.setBrush(vertical(screen, colours::screenTop, colours::screenBottom));
    p.drawPath(roundedRect(screen, 9));
    QLinearGradient shade(screen.topLeft(), screen.topLeft() + QPointF(0, 10));
    shade.setColorAt(0, QColor(0, 0, 0, 50));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    p.setBrush(shade);
    p.drawPath(roundedRect(screen, 9));
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(roundedRect(screen.adjusted(0.5, 0.5, -0.5, -0.5), 8.5));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_pictures OUTPUT_DIR [NAME...]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "make_pictures: cannot create %s\n", argv[1]);
        return 1;
    }
    struct Picture {
        const char* name;
        int width, height;
        bool opaqueWhite;
        Draw draw;
    };
    const Picture pictures[] = {
        {"main_background", 375, 532, true, drawBackground},
        {"key_clear", 48, 48, false,
         keyFace(48, 48, QColor(0xf2, 0x86, 0x7b), QColor(0xcf, 0x48, 0x3e))},
        {"key_operator", 48, 48, false,
         keyFace(48, 48, QColor(0xf9, 0xc4, 0x6b), QColor(0xe0, 0x8d, 0x22))},
        {"key_digit", 48, 48, false,
         keyFace(48, 48, QColor(0xee, 0xf1, 0xf5), QColor(0xcc, 0xd3, 0xdc))},
        {"key_command", 96, 40, false,
         keyFace(96, 40, QColor(0x4d, 0xd0, 0xbb), QColor(0x1d, 0x8e, 0x7e))},
        {"kind_wages", 69, 20, false, kindFace(QStringLiteral("薪金收入"), false)},
        {"kind_wages_chosen", 69, 20, false, kindFace(QStringLiteral("薪金收入"), true)},
        {"kind_labour", 69, 20, false, kindFace(QStringLiteral("劳务费"), false)},
        {"kind_labour_chosen", 69, 20, false, kindFace(QStringLiteral("劳务费"), true)},
        {"kind_royalties", 69, 20, false, kindFace(QStringLiteral("稿酬收入"), false)},
        {"kind_royalties_chosen", 69, 20, false, kindFace(QStringLiteral("稿酬收入"), true)},
        {"indicator_a", 15, 15, false, lamp(true)},
        {"indicator_b", 15, 15, false, lamp(false)},
        {"switch_gross", 304, 23, false, switchFace(false)},
        {"switch_net", 304, 23, false, switchFace(true)},
        {"knob_1", 22, 20, false, knob(false)},
        {"knob_2", 22, 20, false, knob(true)},
        {"radio_off", 14, 14, false, radioMark(false, true)},
        {"radio_on", 14, 14, false, radioMark(true, true)},
        {"radio_disabled", 14, 14, false, radioMark(false, false)},
        {"command_open", 32, 30, false, tealCommand(openGlyph)},
        {"command_save", 32, 30, false, tealCommand(saveGlyph)},
        {"command_calculate", 32, 30, false, tealCommand(calculateGlyph)},
        {"command_select_all", 32, 30, false, tealCommand(selectAllGlyph)},
        {"command_copy", 32, 30, false, tealCommand(copyGlyph)},
        {"command_print", 32, 30, false, tealCommand(printGlyph)},
        {"command_ledger", 32, 30, false, tealCommand(ledgerGlyph)},
        {"command_clear", 32, 30, false,
         commandBadge(QColor(0xf2, 0x86, 0x7b), QColor(0xcf, 0x48, 0x3e), QColor(0xff, 0xf4, 0xf2),
                      clearGlyph)},
        {"batch_side_panel", 103, 311, false, drawSidePanel},
        {"batch_help_panel", 103, 282, false, drawHelpPanel},
        {"rate_save", 85, 48, false,
         keyFace(85, 48, QColor(0x4d, 0xd0, 0xbb), QColor(0x1d, 0x8e, 0x7e))},
        {"rate_restore", 85, 48, false,
         keyFace(85, 48, QColor(0xf2, 0x86, 0x7b), QColor(0xcf, 0x48, 0x3e))},
    };
    QStringList wanted;
    for (int i = 2; i < argc; ++i)
        wanted << QString::fromLocal8Bit(argv[i]);
    for (const Picture& pic : pictures) {
        const QString name = QString::fromLatin1(pic.name);
        if (!wanted.isEmpty() && !wanted.removeAll(name)) continue;
        if (!save(dir, name, pic.width, pic.height, pic.opaqueWhite, pic.draw)) return 1;
    }
    if (!wanted.isEmpty()) {
        std::fprintf(stderr, "make_pictures: no picture named %s\n", qPrintable(wanted.join(' ')));
        return 2;
    }
    return 0;
}
