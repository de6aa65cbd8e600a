#pragma once
// The units of the window templates that Qt has no widget for, and the lookup of a unit by name.
//
// A window is built from its Designer template (the .ui file beside its class): each unit is a
// widget whose object name is the unit's name. Behaviours find their units with findUnit() and use
// the widgets' own API; the window binds events in one place (functor connects and an event
// filter).
//
//   EditBox        an edit box that can show a multi-line template text and a greyed hint
//   PictureButton  a push button drawn on a picture, with its caption on top
//   ImageButton    a button that is only its picture
//   PictureBox     a picture
//   TimerUnit      a timer placed on the template; it ticks while its window exists

#include "base/fatal.h"
#include "base/text.h"
#include "gui/qt_text.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace iit::gui {

// The unit `name` of `window`; a missing unit is the runtime's fatal error.
QObject* findUnitObject(const QObject* window, const QString& name);
template <typename T> T* findUnit(const QObject* window, const QString& name) {
    T* unit = qobject_cast<T*>(findUnitObject(window, name));
    if (!unit) fatalError(0, sysText("指定窗口或窗口组件不存在或尚未载入：") + fromQString(name));
    return unit;
}

// Designer files keep line breaks as LF; the system's texts break lines with CR LF. Called once
// on a window built from its template.
void restoreTemplateLineBreaks(QWidget* window);

// A picture of the templates by name ("key_digit"): the variant drawn for the screen's density.
QPixmap loadPicture(const QString& name, qreal devicePixelRatio = 0);

class EditBox : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(bool multiLine READ multiLine WRITE setMultiLine)
    Q_PROPERTY(QColor textColour READ textColour WRITE setTextColour)
    Q_PROPERTY(QString hint READ hint WRITE setHint)
    Q_PROPERTY(QColor hintColour READ hintColour WRITE setHintColour)

public:
    explicit EditBox(QWidget* parent = nullptr);

    Text content() const;
    // Setting the content raises textChanged exactly as typing does, also when it is the text
    // the box already holds.
    void setContent(const Text& text);

    // Multi-line: a content with line breaks shows as several lines (and cannot be edited
    // in place until it is replaced).
    bool multiLine() const { return m_multiLine; }
    void setMultiLine(bool on);
    QColor textColour() const;
    void setTextColour(const QColor& colour);
    void setFontPointSize(int points);
    // While the content equals the hint it is drawn greyed.
    QString hint() const { return m_hint; }
    void setHint(const QString& hint);
    QColor hintColour() const { return m_hintColour; }
    void setHintColour(const QColor& colour);

    // Caret and selection in bytes of the content.
    int selectionStartBytes() const;
    int selectionLengthBytes() const;
    void setCaretBytes(int position);

    // The rows the box draws itself, instead of QLineEdit, while it shows its hint or a
    // multi-line content: empty when QLineEdit draws the text. Rows are stacked by their ink, so
    // that two lines fit a one-line box; the font shrinks when they would not.
    struct Row {
        QString text;
        int start = 0; // the row's first character in text()
        QFont font;
        QPointF origin; // where its baseline starts, in the box
        QRectF ink;     // the pixels its characters cover, in the box
    };
    std::vector<Row> ownLayout() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_multiLine = false;
    QString m_hint;
    QColor m_hintColour{0x80, 0x80, 0x80};
};

class PictureButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QColor textColour READ textColour WRITE setTextColour)

public:
    explicit PictureButton(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture, const QString& name);
    QString pictureName() const { return m_pictureName; }
    QColor textColour() const { return m_textColour; }
    void setTextColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QString m_pictureName;
    QColor m_textColour{0x20, 0x24, 0x2a};
};

class ImageButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit ImageButton(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture, const QString& name);
    QString pictureName() const { return m_pictureName; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // A checkable image button (a choice, a switch) shows what its window chose: a click alone
    // does not check or uncheck it.
    void nextCheckState() override {}

private:
    QPixmap m_picture;
    QString m_pictureName;
};

class PictureBox : public QWidget {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture, const QString& name);
    QString pictureName() const { return m_pictureName; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QString m_pictureName;
};

class TimerUnit : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int interval READ interval WRITE setInterval)

public:
    explicit TimerUnit(QWidget* parent = nullptr);

    int interval() const { return m_timer.interval(); }
    // A positive period starts the timer; 0 stops it.
    void setInterval(int milliseconds);
    bool isRunning() const { return m_timer.isActive(); }

signals:
    void elapsed();

private:
    QTimer m_timer;
};

} // namespace iit::gui
