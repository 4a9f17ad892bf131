// The painted building blocks of the window: bevelled panels (bands, frames,
// the cover), the group areas, their title tabs, the gradient ground, the
// programming button with its picture and the link labels.
#pragma once

#include <QColor>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QWidget>

namespace vostrel {

enum TBevel { bvNone, bvLowered, bvRaised };

// A filled panel with an outer and an inner one-pixel bevel.
class TBevelPanel : public QWidget {
    Q_OBJECT
public:
    TBevelPanel(TBevel outer, TBevel inner, const QColor& fill, QWidget* parent = nullptr);
    // Width of the bevels, where the content starts.
    int BorderWidth() const { return (m_outer != bvNone) + (m_inner != bvNone); }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    TBevel m_outer;
    TBevel m_inner;
    QColor m_fill;
};

// A group box without caption, filled with one colour.
class TGroupArea : public QGroupBox {
    Q_OBJECT
public:
    TGroupArea(const QColor& fill, const QColor& border, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor m_fill;
    QColor m_border;
};

// The title tab on a group's top edge: upper half white, lower half the
// group's fill, so that it interrupts the group's border line.
class TTitleTab : public QWidget {
    Q_OBJECT
public:
    TTitleTab(const QColor& lower, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor m_lower;
};

// Vertical gradient from one colour at the top edge to another at the bottom.
class TGradient : public QWidget {
    Q_OBJECT
public:
    TGradient(const QColor& top, const QColor& bottom, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor m_top;
    QColor m_bottom;
};

// A push button with its picture at a fixed margin from the left edge and the
// caption a fixed spacing after it, both centred vertically.
class TPictureButton : public QPushButton {
    Q_OBJECT
public:
    TPictureButton(const QIcon& picture, const QString& caption, int margin, int spacing, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    int m_margin;
    int m_spacing;
};

// A label that opens its address on a click and turns blue under the pointer.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    TLinkLabel(const QString& caption, const QUrl& url, const QColor& color, QWidget* parent = nullptr);
    const QUrl& Url() const { return m_url; }

signals:
    void linkClicked(const QUrl& url);

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void SetTextColor(const QColor& c);
    QUrl m_url;
    QColor m_color;
};

}  // namespace vostrel
