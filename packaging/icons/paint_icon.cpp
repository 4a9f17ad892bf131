// Paints the program's icon at one pixel size into a PNG file, or at several
// into a Windows .ico, so the packaged bitmaps are made at build time from the
// same shapes as the scalable SVGs beside this file (the Qt Svg module is not
// available to render them). --stand paints the bench's icon instead: the
// same station before a second one.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Every coordinate is in the SVG's 256 x 256 user space.
constexpr double kDesignSize = 256.0;

// The second station behind, for the bench (org.example.Vostrel.Stand.svg);
// the first is then drawn 40 units to the right, over it.
void paintSecondStation(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2c, 0x3e, 0x50));
    p.drawRoundedRect(QRectF(44, 84, 12, 32), 5, 5);
    p.setBrush(QColor(0x5d, 0x6d, 0x7e));
    p.drawRoundedRect(QRectF(28, 112, 96, 124), 16, 16);
    p.setPen(QPen(QColor(0x1e, 0x6b, 0x45), 3.0));
    p.setBrush(QColor(0x9b, 0xe7, 0xb4));
    p.drawRoundedRect(QRectF(40, 128, 52, 30), 5, 5);
}

void paintIcon(QPainter& p, bool stand)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    if (stand) {
        paintSecondStation(p);
        p.translate(40, 0);
    }

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

QImage paintAt(int size, bool stand)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / kDesignSize, size / kDesignSize);
    paintIcon(p, stand);
    return image;
}

void putLE(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.append(char((value >> (8 * i)) & 0xff));
    }
}

// One icon entry as a classic 32-bit DIB with its AND mask: the form every
// Windows version and resource tool reads. Only the 256-pixel one is PNG, as
// Windows' own icons have it.
QByteArray iconEntry(const QImage& painted)
{
    const int size = painted.width();
    QByteArray out;
    if (size >= 256) {
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        painted.save(&buffer, "PNG");
        return out;
    }
    const QImage image = painted.convertToFormat(QImage::Format_ARGB32);
    const int maskStride = (size + 31) / 32 * 4;
    putLE(out, 40, 4);
    putLE(out, quint32(size), 4);
    putLE(out, quint32(2 * size), 4);  // colour rows and mask rows together
    putLE(out, 1, 2);
    putLE(out, 32, 2);
    putLE(out, 0, 4);
    putLE(out, quint32(size * size * 4 + maskStride * size), 4);
    putLE(out, 0, 16);
    for (int y = size - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) {
            putLE(out, line[x], 4);  // 0xAARRGGBB little-endian is B, G, R, A
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < size; ++x) {
            if (qAlpha(line[x]) == 0) {
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
    return out;
}

QByteArray iconFile(const std::vector<int>& sizes, bool stand)
{
    std::vector<QByteArray> entries;
    for (int size : sizes) {
        entries.push_back(iconEntry(paintAt(size, stand)));
    }
    QByteArray out;
    putLE(out, 0, 2);
    putLE(out, 1, 2);
    putLE(out, quint32(sizes.size()), 2);
    quint32 offset = quint32(6 + 16 * sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        putLE(out, quint32(sizes[i] >= 256 ? 0 : sizes[i]), 1);
        putLE(out, quint32(sizes[i] >= 256 ? 0 : sizes[i]), 1);
        putLE(out, 0, 2);
        putLE(out, 1, 2);
        putLE(out, 32, 2);
        putLE(out, quint32(entries[i].size()), 4);
        putLE(out, offset, 4);
        offset += quint32(entries[i].size());
    }
    for (const QByteArray& entry : entries) {
        out.append(entry);
    }
    return out;
}

int parseSize(const char* program, const char* text)
{
    const int size = std::atoi(text);
    if (size < 8 || size > 1024) {
        std::fprintf(stderr, "%s: size must be 8 to 1024 pixels\n", program);
        std::exit(2);
    }
    return size;
}

}  // namespace

int main(int argc, char** argv)
{
    char* program = argv[0];
    const bool stand = argc >= 2 && std::string(argv[1]) == "--stand";
    if (stand) {
        --argc;
        ++argv;
        argv[0] = program;
    }
    // The Windows programs' icon: several sizes in one .ico, for windres.
    if (argc >= 4 && std::string(argv[1]) == "--ico") {
        std::vector<int> sizes;
        for (int i = 3; i < argc; ++i) {
            const int size = parseSize(argv[0], argv[i]);
            if (size > 256) {
                std::fprintf(stderr, "%s: an icon entry holds at most 256 pixels\n", argv[0]);
                return 2;
            }
            sizes.push_back(size);
        }
        QSaveFile file(QString::fromLocal8Bit(argv[2]));
        const QByteArray data = iconFile(sizes, stand);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
            return 1;
        }
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s [--stand] SIZE OUTPUT.png\n       %s [--stand] --ico OUTPUT.ico SIZE...\n",
                     argv[0], argv[0]);
        return 2;
    }
    const int size = parseSize(argv[0], argv[1]);
    if (!paintAt(size, stand).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
