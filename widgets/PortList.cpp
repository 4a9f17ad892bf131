#include "PortList.h"

#include <QAbstractItemView>
#include <QWheelEvent>

namespace vostrel {

TPortList::TPortList(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
}

void TPortList::showPopup()
{
    if (OnPopup)
        OnPopup();
    QComboBox::showPopup();
}

void TPortList::wheelEvent(QWheelEvent* e)
{
    // The open list scrolls its own view; the closed one changes nothing.
    e->ignore();
}

}  // namespace vostrel
