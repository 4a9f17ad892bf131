// The look the program's windows share: fonts sized in logical pixels, so
// that on a scaled desktop text grows with the places it sits in, and the
// windows' white ground.
#pragma once

#include <QFont>
#include <QString>

class QWidget;

namespace vostrel {

QFont MakeFont(const QString& family, int pixels, bool bold = false, bool italic = false, bool underline = false);
QFont Arial(int pixels, bool bold = false, bool italic = false, bool underline = false);
// The exchange log's and the parameter file's fixed-width text.
QFont FixedFont(int pixels);

// A window's own font (MS Sans Serif, 11 px, inherited by every child) and
// its white ground.
void ApplyWindowLook(QWidget& window);

}  // namespace vostrel
