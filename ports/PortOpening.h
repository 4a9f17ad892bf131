// One open of a port the operator named, prepared alike by the window and by
// vostrel-cli: what the name reaches now, then the marks other programs leave
// on the device (their lock file, their open descriptors), and last what a
// failure tells the operator. The system's open call stays with the caller:
// the window runs it aside from its thread, and each step returns so the
// caller can let its messages run between them.
#pragma once

#include "PortFinder.h"
#include "PortLock.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace vostrel {

class TPortOpening {
public:
    // name: the entry as the operator picked or typed it ("COM1",
    // "/dev/ttyUSB0"). Until Choose or SetPath, Path is its DefaultDevicePath.
    explicit TPortOpening(const QString& name);

    const QString& Name() const { return m_name; }
    const std::string& Path() const { return m_path; }
    // A device given from elsewhere: nothing is reported of what it reaches.
    void SetPath(std::string path) { m_path = std::move(path); }

    // What the name reaches among choices, and what the failure text reports
    // of it and of present; a name none of them has keeps its default path.
    // false, with the open refused: the name waits for its own adapter, which
    // is unplugged, and no other is opened in its place.
    bool Choose(const std::vector<TPortChoice>& choices, const std::vector<TPresentPort>& present);

    // Whether other programs could hold the device without our knowing: only
    // then are Lock and Unheld of use.
    bool Shared() const { return IsSharedDevice(m_path); }
    // The device's lock file in lockDir taken for us. When another program
    // holds it the open is refused, naming that program, and the lock
    // returned is not ours.
    TPortLock Lock(const std::string& lockDir);
    // The programs found holding the device open: any refuses the open.
    bool Unheld(const std::vector<std::string>& holders);

    // A step above refused the open: it must not be tried.
    bool Refused() const { return m_refused; }
    // The open failed: the system's code (errno, GetLastError; 0 when none
    // was kept) and the serial component's own message; holders: those
    // found holding the device, for a busy one no step above named.
    void Failed(int code, const QString& message, const std::vector<std::string>& holders = {});
    // The holders named so far.
    const QStringList& Holders() const { return m_holders; }

    // The failure as the window's box shows it: the text, "Не удалось открыть
    // порт " and the name, and the informative text: the reason with what to
    // do about it, then what the name reached and the ports there are.
    QString FailureTitle() const;
    QString FailureDetails() const;
    // The same in one text, as vostrel-cli prints it.
    QString FailureText() const;

private:
    QString Reason() const;

    QString m_name;
    std::string m_path;
    bool m_refused = false;
    int m_code = 0;
    QString m_message;
    QString m_report;       // what the name reached
    QStringList m_holders;  // other programs holding the device
};

}  // namespace vostrel
