// What a row of the bench window makes of its port's events.
#include "PortRows.h"

#include <gtest/gtest.h>

namespace vostrel {

namespace {

TPortEvent Event(TPortEvent::TKind kind, std::string text = {}, TSessionPhase phase = TSessionPhase::Waiting)
{
    TPortEvent e;
    e.Kind = kind;
    e.Text = std::move(text);
    e.Phase = phase;
    e.Time = "12:00:00";
    return e;
}

}  // namespace

// A station programmed and read back, then the next one waited for: the
// read-back's wait and read are told apart from a new station's.
TEST(PortRows, StatesFollowTheSession)
{
    using K = TPortEvent::TKind;
    using P = TSessionPhase;
    struct TStep {
        TPortEvent Event;
        std::string State;
    };
    const std::vector<TStep> steps{
        {Event(K::Began), "ждёт станцию"},
        {Event(K::Phase, "", P::Reading), "читает"},
        {Event(K::Phase, "", P::Programming), "программирует"},
        {Event(K::Phase, "", P::Pause), "пауза"},
        {Event(K::Phase, "", P::Verifying), "проверка"},
        {Event(K::Phase, "", P::Waiting), "проверка: ждёт станцию"},
        {Event(K::Phase, "", P::Reading), "проверка: читает"},
        {Event(K::Result, "12:00:01  COM1  станция 1: проверено"), "проверка: читает"},
        {Event(K::Phase, "", P::Waiting), "ждёт станцию"},
        {Event(K::Phase, "", P::PortGone), "порт пропал — ждём его"},
        {Event(K::Stopped, "Прервано: порт COM1 больше не ждёт своё устройство."), "остановлен"},
    };
    TPortRow row;
    row.Port = "COM1";
    for (const TStep& s : steps) {
        SCOPED_TRACE(s.State);
        ApplyEvent(row, s.Event);
        EXPECT_EQ(row.State, s.State);
    }
    EXPECT_EQ(row.LastChanges, "станция 1: проверено");
    EXPECT_FALSE(row.Failed);
}

TEST(PortRows, AFailureTurnsTheRowRedWithTheSystemsWords)
{
    TPortRow row;
    ApplyEvent(row, Event(TPortEvent::TKind::Began));
    ApplyEvent(row, Event(TPortEvent::TKind::Error, "Ошибка порта COM2: устройство отключено."));
    TPortEvent end = Event(TPortEvent::TKind::Ended);
    end.Trouble = "отказ порта";
    ApplyEvent(row, end);
    EXPECT_TRUE(row.Failed);
    EXPECT_EQ(row.State, "отказ: Ошибка порта COM2: устройство отключено.");
}

// A port that did not open says why in its row, a busy one who holds it; the
// whole failure stays its tooltip.
TEST(PortRows, APortThatDidNotOpenSaysWhyInItsRow)
{
    const std::string title = "Не удалось открыть порт /dev/ttyUSB0\n";
    const std::string report = "\n\n/dev/ttyUSB0: USB-адаптер\nПорты в системе: /dev/ttyS0";
    struct TCase {
        const char* Name;
        std::string Failure;
        std::string State;
    };
    const std::vector<TCase> cases{
        {"held by two programs",
         title +
             "Причина: устройство занято.\nПорт занят: его держит другая программа: minicom (PID 41), "
             "screen (PID 42)." +
             report,
         "отказ: порт занят: minicom (PID 41), screen (PID 42)"},
        {"a lock file with no holder named",
         title +
             "Причина: устройство занято.\nПорт занят: его держит другая "
             "программа." +
             report,
         "отказ: порт занят другой программой"},
        {"no rights", title + "Причина: отказано в доступе.\nНет прав на устройство: ..." + report,
         "отказ: порт не открылся: отказано в доступе"},
        {"no reason given", "Не удалось открыть порт COM3", "отказ: порт не открылся"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPortRow row;
        ApplyEvent(row, Event(TPortEvent::TKind::OpenFailed, c.Failure));
        EXPECT_TRUE(row.Failed);
        EXPECT_EQ(row.State, c.State);
        EXPECT_EQ(row.Why, c.Failure);
    }
}

// A shift of hours keeps no more than the last lines of each port's log.
TEST(PortRows, TheLogKeepsItsLastLinesOnly)
{
    TPortRow row;
    const std::size_t lines = kRowLogLines * 3 + 7;
    for (std::size_t k = 0; k < lines; ++k)
        ApplyEvent(row, Event(TPortEvent::TKind::Log, std::to_string(k)));
    EXPECT_EQ(row.Log.size(), kRowLogLines);
    EXPECT_EQ(row.LogTotal, lines);
    EXPECT_EQ(row.Log.back(), std::to_string(lines - 1));
    EXPECT_EQ(row.Log.front(), std::to_string(lines - kRowLogLines));
}

}  // namespace vostrel
