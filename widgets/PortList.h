// The port list: a drop-down the operator can only pick from. A wheel turn
// over the closed list does nothing, since an accidental scroll must never
// close a working port; the owner hears when the list is about to open.
#pragma once

#include <QComboBox>

#include <functional>

namespace vostrel {

class TPortList : public QComboBox {
    Q_OBJECT
public:
    explicit TPortList(QWidget* parent = nullptr);
    // Called right before the list opens, e.g. to refresh the entries' tooltips.
    std::function<void()> OnPopup;

    void showPopup() override;

protected:
    void wheelEvent(QWheelEvent* e) override;
};

}  // namespace vostrel
