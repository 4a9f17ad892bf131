#include "Selector.h"

#include <QIcon>
#include <QPainter>
#include <QToolButton>

namespace vostrel {

namespace {

constexpr int kArrowWidth = 11;

QToolButton* MakeArrow(const QString& name, const QString& picture, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setIcon(QIcon(picture));
    b->setIconSize(QSize(5, 9));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

}  // namespace

TSelector::TSelector(const QString& name, const QMap<int, QString>& captions, QWidget* parent, bool blank)
    : QFrame(parent), m_captions(captions), m_tag(captions.isEmpty() ? 0 : captions.firstKey())
{
    if (!blank)
        m_caption = m_captions.value(m_tag);
    setObjectName(name);
    const QString stem = QStringLiteral("spb") + (name.startsWith(QLatin1String("pan")) ? name.mid(3) : name);
    m_left = MakeArrow(stem + QStringLiteral("_left"), QStringLiteral(":/images/arrow_left.xpm"), this);
    m_right = MakeArrow(stem + QStringLiteral("_right"), QStringLiteral(":/images/arrow_right.xpm"), this);
    connect(m_left, &QToolButton::clicked, this, &TSelector::leftClicked);
    connect(m_right, &QToolButton::clicked, this, &TSelector::rightClicked);
}

void TSelector::SetTag(int code)
{
    if (!m_captions.contains(code))
        return;
    m_tag = code;
    m_caption = m_captions.value(code);
    update();
}

void TSelector::SetCaptionColor(const QColor& c)
{
    m_captionColor = c;
    update();
}

void TSelector::SetBorderColor(const QColor& c)
{
    m_borderColor = c;
    update();
}

void TSelector::resizeEvent(QResizeEvent* e)
{
    QFrame::resizeEvent(e);
    m_left->setGeometry(1, 1, kArrowWidth, height() - 2);
    m_right->setGeometry(width() - 1 - kArrowWidth, 1, kArrowWidth, height() - 2);
}

void TSelector::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(m_borderColor);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(m_captionColor);
    p.setFont(font());
    const QRect textRect = rect().adjusted(1 + kArrowWidth, 1, -1 - kArrowWidth, -1);
    p.drawText(textRect, Qt::AlignCenter, Caption());
}

}  // namespace vostrel
