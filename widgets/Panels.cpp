#include "Panels.h"

#include <QDesktopServices>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace vostrel {

namespace {

const QColor kHighlight(255, 255, 255);
const QColor kShadow(128, 128, 128);

// One bevel ring on r: raised is light on top/left, dark on bottom/right.
void DrawBevel(QPainter& p, const QRect& r, TBevel kind)
{
    if (kind == bvNone)
        return;
    const QColor topLeft = kind == bvRaised ? kHighlight : kShadow;
    const QColor bottomRight = kind == bvRaised ? kShadow : kHighlight;
    p.setPen(topLeft);
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.drawLine(r.left(), r.top(), r.left(), r.bottom());
    p.setPen(bottomRight);
    p.drawLine(r.left() + 1, r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.top() + 1, r.right(), r.bottom());
}

}  // namespace

TBevelPanel::TBevelPanel(TBevel outer, TBevel inner, const QColor& fill, QWidget* parent)
    : QWidget(parent), m_outer(outer), m_inner(inner), m_fill(fill)
{}

void TBevelPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_fill);
    QRect r = rect();
    DrawBevel(p, r, m_outer);
    if (m_outer != bvNone)
        r.adjust(1, 1, -1, -1);
    DrawBevel(p, r, m_inner);
}

TGroupArea::TGroupArea(const QColor& fill, const QColor& border, QWidget* parent)
    : QGroupBox(parent), m_fill(fill), m_border(border)
{
    setFlat(true);
}

void TGroupArea::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_fill);
    p.setPen(m_border);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TTitleTab::TTitleTab(const QColor& lower, QWidget* parent) : QWidget(parent), m_lower(lower)
{}

void TTitleTab::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int half = height() / 2;
    p.fillRect(0, 0, width(), half, Qt::white);
    p.fillRect(0, half, width(), height() - half, m_lower);
}

TGradient::TGradient(const QColor& top, const QColor& bottom, QWidget* parent)
    : QWidget(parent), m_top(top), m_bottom(bottom)
{}

void TGradient::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, m_top);
    g.setColorAt(1, m_bottom);
    p.fillRect(rect(), g);
}

TPictureButton::TPictureButton(const QIcon& picture, const QString& caption, int margin, int spacing, QWidget* parent)
    : QPushButton(picture, caption, parent), m_margin(margin), m_spacing(spacing)
{}

void TPictureButton::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    opt.text.clear();
    opt.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, opt);

    const QSize pic = iconSize();
    const int y = (height() - pic.height()) / 2;
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    icon().paint(&p, QRect(QPoint(m_margin, y), pic), Qt::AlignCenter, mode);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    const int textX = m_margin + pic.width() + m_spacing;
    p.drawText(QRect(textX, 0, width() - textX, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

TLinkLabel::TLinkLabel(const QString& caption, const QUrl& url, const QColor& color, QWidget* parent)
    : QLabel(caption, parent), m_url(url), m_color(color)
{
    setCursor(Qt::PointingHandCursor);
    SetTextColor(m_color);
    connect(this, &TLinkLabel::linkClicked, this, [](const QUrl& u) { QDesktopServices::openUrl(u); });
}

void TLinkLabel::SetTextColor(const QColor& c)
{
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, c);
    setPalette(pal);
}

void TLinkLabel::enterEvent(QEnterEvent* e)
{
    SetTextColor(Qt::blue);
    QLabel::enterEvent(e);
}

void TLinkLabel::leaveEvent(QEvent* e)
{
    SetTextColor(m_color);
    QLabel::leaveEvent(e);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        emit linkClicked(m_url);
    QLabel::mouseReleaseEvent(e);
}

}  // namespace vostrel
