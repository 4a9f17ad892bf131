// Paints the program's icon at one pixel size into a PNG file, so the packaged
// bitmaps are made at build time from the same shapes as the scalable SVG beside
// this file (the Qt Svg module is not available to render that one).
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Every coordinate is in the SVG's 256 x 256 user space.
constexpr double kDesignSize = 256.0;

void paintIcon(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing, true);

    // Waves around the antenna tip: two arcs on each side, 70 degrees wide.
    QPen wave(QColor(0xe0, 0x7a, 0x1f), 10.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    for (double r : {26.0, 48.0}) {
        const QRectF box(148.0 - r, 48.0 - r, 2 * r, 2 * r);
        p.drawArc(box, -35 * 16, 70 * 16);
        p.drawArc(box, 145 * 16, 70 * 16);
    }

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2c, 0x3e, 0x50));
    p.drawRoundedRect(QRectF(140, 44, 16, 44), 6, 6);
    p.setBrush(QColor(0xe0, 0x7a, 0x1f));
    p.drawEllipse(QRectF(148 - 11, 44 - 11, 22, 22));
    p.setBrush(QColor(0x2c, 0x3e, 0x50));
    p.drawRoundedRect(QRectF(76, 66, 20, 18), 4, 4);

    p.setBrush(QColor(0x34, 0x49, 0x5e));
    p.drawRoundedRect(QRectF(64, 80, 112, 156), 18, 18);

    // Display; an SVG stroke straddles the outline just as a QPen does.
    p.setPen(QPen(QColor(0x1e, 0x6b, 0x45), 3.0));
    p.setBrush(QColor(0x9b, 0xe7, 0xb4));
    p.drawRoundedRect(QRectF(80, 98, 80, 42), 6, 6);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x95, 0xa5, 0xa6));
    for (double y : {160.0, 178.0, 196.0}) {
        p.drawRoundedRect(QRectF(88, y, 64, 8), 4, 4);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SIZE OUTPUT.png\n", argv[0]);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    if (size < 8 || size > 1024) {
        std::fprintf(stderr, "%s: size must be 8 to 1024 pixels\n", argv[0]);
        return 2;
    }

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.scale(size / kDesignSize, size / kDesignSize);
        paintIcon(p);
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
