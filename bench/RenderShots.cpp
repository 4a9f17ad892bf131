#include "RenderShots.h"

#include <QImageWriter>
#include <QPainter>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <utility>

namespace vostrel {

namespace {

// Offset and depth of the shadow under a framed box, in logical pixels.
constexpr int kShadow = 4;

void DrawFrame(QPainter& p, const QRect& r)
{
    // Fainter further out, so the box looks lifted off the window.
    for (int i = kShadow; i >= 1; --i)
        p.fillRect(r.translated(i, i), QColor(0, 0, 0, 14 + 8 * (kShadow - i)));
    p.setPen(QColor(120, 120, 120));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(-1, -1, 0, 0));
}

}  // namespace

QPixmap WindowWith(QWidget& window, QWidget& over, bool framed)
{
    const QPixmap back = window.grab();
    const QPixmap front = over.grab();
    const QRect win(QPoint(0, 0), window.size());
    QRect top(over.geometry().topLeft() - window.geometry().topLeft(), over.size());
    // A window the platform never placed sits anywhere: centre it, as a box
    // over its owner is on a desktop.
    if (!win.intersects(top))
        top.moveCenter(win.center());
    const int margin = framed ? kShadow + 1 : 0;
    const QRect all = win.united(top.adjusted(-margin, -margin, margin, margin));

    const qreal dpr = back.devicePixelRatio();
    QPixmap picture(
        QSize(static_cast<int>(std::lround(all.width() * dpr)), static_cast<int>(std::lround(all.height() * dpr))));
    picture.setDevicePixelRatio(dpr);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.translate(-all.topLeft());
    p.drawPixmap(win.topLeft(), back);
    if (framed)
        DrawFrame(p, top);
    p.drawPixmap(top.topLeft(), front);
    p.end();
    return picture;
}

bool SavePicture(const QPixmap& picture, const QDir& dir, const QString& file)
{
    const QString path = dir.filePath(file);
    QImageWriter writer(path, "png");
    // The PNG writer's quality is its compression the other way round: 0
    // compresses most.
    writer.setQuality(0);
    const bool ok = !picture.isNull() && writer.write(picture.toImage());
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

TShotSteps::TShotSteps(std::vector<TShotStep> steps) : m_steps(std::move(steps))
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &TShotSteps::Poll);
    m_timer.start();
}

void TShotSteps::Poll()
{
    // A step may let the window's messages run (the port list fills its
    // tooltips when it opens): the timer must not take the next one inside.
    if (m_busy || Done() || !m_steps[m_next].Ready())
        return;
    m_busy = true;
    const TShotStep& step = m_steps[m_next];
    if (!step.Take()) {
        std::printf("FAILED: %s\n", qPrintable(step.Name));
        m_ok = false;
    }
    ++m_next;
    m_busy = false;
    if (Done())
        m_timer.stop();
}

}  // namespace vostrel
