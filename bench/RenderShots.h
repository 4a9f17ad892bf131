// The render tool's pictures: the window grabbed alone or with the top-level
// window the operator sees over it (the open port list, a message box), and
// the steps that take them while the window goes its own way.
#pragma once

#include <QDir>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

class QWidget;

namespace vostrel {

// The window, and over it another top-level window where the screen has it
// (a position off the window centres it). Where the other reaches beyond the
// window the picture grows and stays transparent around the window.
// framed: a thin border and a shadow stand for the decoration the system
// would draw around a box; offscreen draws none.
QPixmap WindowWith(QWidget& window, QWidget& over, bool framed);

// Writes the picture as PNG, compressed as far as the writer goes, and
// prints what it did.
bool SavePicture(const QPixmap& picture, const QDir& dir, const QString& file);

// One step: once Ready holds, Take runs (and returns false on failure). Take
// must not run a nested event loop itself: what would wait (a click, a pick)
// it posts instead, so the steps keep being looked at meanwhile.
struct TShotStep {
    QString Name;
    std::function<bool()> Ready;
    std::function<bool()> Take;
};

// Looks at the current step every 20 ms; the timer also fires inside the
// window's own nested waits (the station's wait, the thank-you page, a modal
// box), which is where most pictures are taken.
class TShotSteps : public QObject {
public:
    explicit TShotSteps(std::vector<TShotStep> steps);

    bool Done() const { return m_next >= m_steps.size(); }
    bool Ok() const { return m_ok; }
    // The step still waited for, for the failure message.
    QString Waiting() const { return Done() ? QString() : m_steps[m_next].Name; }

private:
    void Poll();

    std::vector<TShotStep> m_steps;
    std::size_t m_next = 0;
    bool m_busy = false;
    bool m_ok = true;
    QTimer m_timer;
};

}  // namespace vostrel
