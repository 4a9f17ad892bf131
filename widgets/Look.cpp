#include "Look.h"

#include <QPalette>
#include <QWidget>

namespace vostrel {

QFont MakeFont(const QString& family, int pixels, bool bold, bool italic, bool underline)
{
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QFont Arial(int pixels, bool bold, bool italic, bool underline)
{
    return MakeFont(QStringLiteral("Arial"), pixels, bold, italic, underline);
}

QFont FixedFont(int pixels)
{
    QFont f = MakeFont(QStringLiteral("Courier New"), pixels);
    // Where Courier New is missing, another fixed-width face stands in.
    f.setStyleHint(QFont::Monospace);
    return f;
}

void ApplyWindowLook(QWidget& window)
{
    window.setFont(MakeFont(QStringLiteral("MS Sans Serif"), 11));
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, Qt::white);
    window.setPalette(pal);
    window.setAutoFillBackground(true);
}

}  // namespace vostrel
