// Helpers shared by the tests of the window and its widgets.
#pragma once

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// Closes every message box that becomes modal while it lives and keeps
// what the boxes said.
class TModalBoxCloser {
public:
    TModalBoxCloser()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            Texts.append(box->text());
            Infos.append(box->informativeText());
            box->done(QMessageBox::Ok);
        });
        m_timer.start();
    }
    QStringList Texts;
    QStringList Infos;

private:
    QTimer m_timer;
};

// Switches the default locale for one test and back.
class TLocaleScope {
public:
    explicit TLocaleScope(const QLocale& l) : m_old(QLocale()) { QLocale::setDefault(l); }
    ~TLocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

inline QLocale RussianLocale()
{
    return QLocale(QLocale::Russian, QLocale::Russia);
}
