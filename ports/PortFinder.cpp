// The naming rule and the texts, the same on every system: which port each
// name takes, the session's bindings, and what the operator reads about it.
#include "PortFinder.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <set>
#include <string_view>
#include <utility>

namespace vostrel {

namespace {

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digit runs compare as numbers so "ttyS2" < "ttyS10" and "1-2" < "1-10".
int NaturalCompare(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsAsciiDigit(a[i]) && IsAsciiDigit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && IsAsciiDigit(a[ei]))
                ++ei;
            while (ej < b.size() && IsAsciiDigit(b[ej]))
                ++ej;
            std::string_view da = a.substr(i, ei - i);
            std::string_view db = b.substr(j, ej - j);
            while (da.size() > 1 && da.front() == '0')
                da.remove_prefix(1);
            while (db.size() > 1 && db.front() == '0')
                db.remove_prefix(1);
            if (da.size() != db.size())
                return da.size() < db.size() ? -1 : 1;
            if (const int c = da.compare(db); c != 0)
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    // Equal as numbers ("ttyS01", "ttyS1"): still a fixed order.
    const int c = a.compare(b);
    return (c > 0) - (c < 0);
}

int KindRank(TPresentPort::TKind kind)
{
    switch (kind) {
    case TPresentPort::TKind::BuiltIn:
        return 0;
    case TPresentPort::TKind::Usb:
        return 1;
    case TPresentPort::TKind::Other:
        break;
    }
    return 2;
}

TPortBinding BindingTo(const TPresentPort& port, bool byLink)
{
    TPortBinding bound;
    bound.To = TPortBinding::TTo::Adapter;
    bound.ByLink = byLink;
    bound.SerialNumber = port.SerialNumber;
    bound.Location = port.Location;
    bound.Path = port.Path;
    bound.Description = port.Description;
    bound.Interface = port.Interface;
    bound.SysPath = port.SysPath;
    return bound;
}

// How much more than their identity a bound adapter and a present port share:
// 2 for the socket plus 1 for the path; -1 when they are not the same adapter.
// Without a serial number the socket is the identity, or without one the path,
// and then the sysfs path too: a kernel name passes to the next device. The
// interface of a multi-port adapter always counts.
int Agreement(const TPortBinding& bound, const TPresentPort& port)
{
    if (bound.SerialNumber != port.SerialNumber || bound.Interface != port.Interface)
        return -1;
    const bool samePath = bound.Path == port.Path;
    if (bound.SerialNumber.empty() && bound.Location.empty() && (!samePath || bound.SysPath != port.SysPath))
        return -1;
    if (bound.SerialNumber.empty() && bound.Location != port.Location)
        return -1;
    const bool sameSocket = !bound.Location.empty() && bound.Location == port.Location;
    return (sameSocket ? 2 : 0) + (samePath ? 1 : 0);
}

bool SameIdentity(const TPortBinding& a, const TPortBinding& b)
{
    return a.SerialNumber == b.SerialNumber && a.Location == b.Location && a.Interface == b.Interface &&
           a.Path == b.Path;
}

// The index in `ports` of each bound adapter, -1 when it is not there. Pairs
// are taken from the closest agreement down, and only when neither side has
// another candidate as close, so look-alikes (clones sharing a serial number)
// are left unplaced rather than swapped. Several ports of one serial number in
// one socket are one adapter's: they pair off in path order. Names bound to
// the same identity share its port.
std::vector<int> MatchBound(const std::vector<TPortBinding*>& bound, const std::vector<TPresentPort>& ports)
{
    std::vector<std::size_t> owner(bound.size());  // first binding of each identity
    std::vector<std::size_t> ids;
    for (std::size_t k = 0; k < bound.size(); ++k) {
        const auto same =
            std::find_if(ids.begin(), ids.end(), [&](std::size_t id) { return SameIdentity(*bound[id], *bound[k]); });
        owner[k] = same == ids.end() ? k : *same;
        if (same == ids.end())
            ids.push_back(k);
    }

    std::vector<int> match(bound.size(), -1);
    std::vector<bool> used(ports.size(), false);
    const auto take = [&](std::size_t id, std::size_t p) {
        match[id] = static_cast<int>(p);
        used[p] = true;
    };
    const auto candidate = [&](int level, std::size_t id, std::size_t p) {
        return match[id] < 0 && !used[p] && Agreement(*bound[id], ports[p]) >= level;
    };
    for (int level = 3; level >= 0; --level) {
        for (bool changed = true; changed;) {
            changed = false;
            for (const std::size_t id : ids) {
                std::vector<std::size_t> near;
                for (std::size_t p = 0; p < ports.size(); ++p) {
                    if (candidate(level, id, p))
                        near.push_back(p);
                }
                if (near.size() != 1)
                    continue;
                const auto rivals = std::count_if(ids.begin(), ids.end(),
                                                  [&](std::size_t other) { return candidate(level, other, near[0]); });
                if (rivals == 1) {
                    take(id, near[0]);
                    changed = true;
                }
            }
        }
        if (level != 2)
            continue;
        // One adapter's ports renumbered together: they keep their order.
        for (const std::size_t id : ids) {
            if (match[id] >= 0 || bound[id]->Location.empty())
                continue;
            std::vector<std::size_t> group;
            std::vector<std::size_t> groupPorts;
            for (const std::size_t other : ids) {
                if (match[other] < 0 && bound[other]->SerialNumber == bound[id]->SerialNumber &&
                    bound[other]->Location == bound[id]->Location && bound[other]->Interface == bound[id]->Interface)
                    group.push_back(other);
            }
            for (std::size_t p = 0; p < ports.size(); ++p) {
                if (candidate(level, id, p))
                    groupPorts.push_back(p);
            }
            if (group.size() != groupPorts.size())
                continue;
            std::sort(group.begin(), group.end(),
                      [&](std::size_t x, std::size_t y) { return NaturalCompare(bound[x]->Path, bound[y]->Path) < 0; });
            std::sort(groupPorts.begin(), groupPorts.end(),
                      [&](std::size_t x, std::size_t y) { return NaturalCompare(ports[x].Path, ports[y].Path) < 0; });
            for (std::size_t g = 0; g < group.size(); ++g)
                take(group[g], groupPorts[g]);
        }
    }
    for (std::size_t k = 0; k < bound.size(); ++k)
        match[k] = match[owner[k]];
    return match;
}

// Away from the name's own /dev/COMn: a link that never reached a listed port.
bool AwayFromOwnLink(const TPortChoice& choice)
{
    return choice.AwayFrom == "/dev/" + choice.Name;
}

}  // namespace

bool PortBefore(const TPresentPort& a, const TPresentPort& b)
{
    if (KindRank(a.Kind) != KindRank(b.Kind))
        return KindRank(a.Kind) < KindRank(b.Kind);
    if (a.Kind == TPresentPort::TKind::Usb) {
        if (a.Location.empty() != b.Location.empty())
            return !a.Location.empty();
        if (const int c = NaturalCompare(a.Location, b.Location); c != 0)
            return c < 0;
    }
    return NaturalCompare(a.Path, b.Path) < 0;
}

std::vector<TPortChoice> ResolveComPorts(const std::vector<TPresentPort>& present, const TPathTest& exists,
                                         const TPathMap& realPath, int count, TPortBindings* bindings)
{
    std::vector<TPresentPort> ordered = present;
    std::stable_sort(ordered.begin(), ordered.end(), PortBefore);
    std::vector<std::string> orderedReal;
    orderedReal.reserve(ordered.size());
    for (const auto& port : ordered) {
        std::string real = realPath(port.Path);
        orderedReal.push_back(real.empty() ? port.Path : std::move(real));
    }

    TPortBindings fresh;
    TPortBindings& session = bindings != nullptr ? *bindings : fresh;
    std::vector<TPortChoice> choices(static_cast<std::size_t>(std::max(count, 0)));
    if (session.Names.size() < choices.size())
        session.Names.resize(choices.size());

    // The administrator's links first: they win over earlier bindings.
    std::vector<bool> linked(choices.size(), false);
    std::set<std::string> taken;  // real paths of the ports already named
    for (std::size_t i = 0; i < choices.size(); ++i) {
        TPortChoice& choice = choices[i];
        TPortBinding& bound = session.Names[i];
        choice.Name = "COM" + std::to_string(i + 1);
        const std::string link = "/dev/" + choice.Name;
        if (!exists(link))
            continue;
        linked[i] = true;
        choice.Path = link;
        choice.Pinned = true;
        const std::string target = realPath(link);
        if (!target.empty())
            taken.insert(target);
        const auto hit = target.empty() ? orderedReal.end() : std::find(orderedReal.begin(), orderedReal.end(), target);
        if (hit != orderedReal.end()) {
            const std::size_t p = static_cast<std::size_t>(hit - orderedReal.begin());
            choice.Target = ordered[p].Path;
            choice.Description = ordered[p].Description;
            bound = BindingTo(ordered[p], true);
            continue;
        }
        if (!target.empty() && target != link)
            choice.Target = target;
        // An adapter this link reached before stays the name's should the link
        // go; otherwise the name now belongs to the link itself.
        if (bound.To != TPortBinding::TTo::Adapter || !bound.ByLink) {
            bound = TPortBinding{};
            bound.To = TPortBinding::TTo::Link;
        }
    }

    // Bound adapters, pinned ones too, so a port a stale link's name still
    // holds is not handed to another name.
    std::vector<TPortBinding*> adapters;
    std::vector<std::size_t> adapterName;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (session.Names[i].To == TPortBinding::TTo::Adapter) {
            adapters.push_back(&session.Names[i]);
            adapterName.push_back(i);
        }
    }
    const std::vector<int> found = MatchBound(adapters, ordered);
    std::vector<int> reached(choices.size(), -1);
    for (std::size_t k = 0; k < adapters.size(); ++k) {
        if (found[k] < 0)
            continue;
        const std::size_t p = static_cast<std::size_t>(found[k]);
        reached[adapterName[k]] = found[k];
        taken.insert(orderedReal[p]);
        // It may have moved: match it by where it is now next time.
        *adapters[k] = BindingTo(ordered[p], adapters[k]->ByLink);
    }

    for (std::size_t i = 0; i < choices.size(); ++i) {
        TPortChoice& choice = choices[i];
        const TPortBinding& bound = session.Names[i];
        if (linked[i] || bound.To == TPortBinding::TTo::Nothing)
            continue;
        if (reached[i] >= 0) {
            const TPresentPort& port = ordered[static_cast<std::size_t>(reached[i])];
            choice.Path = port.Path;
            choice.Description = port.Description;
            continue;
        }
        choice.Away = true;
        choice.AwayFrom = bound.To == TPortBinding::TTo::Link ? "/dev/" + choice.Name : bound.Path;
        choice.Description = bound.Description;
    }

    std::size_t next = 0;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (linked[i] || session.Names[i].To != TPortBinding::TTo::Nothing)
            continue;
        while (next < ordered.size() && taken.count(orderedReal[next]) != 0)
            ++next;
        if (next == ordered.size())
            break;
        choices[i].Path = ordered[next].Path;
        choices[i].Description = ordered[next].Description;
        session.Names[i] = BindingTo(ordered[next], false);
        ++next;
    }
    return choices;
}

QString PortToolTip(const TPortChoice& choice)
{
    if (choice.Away) {
        const QString name = QString::fromStdString(choice.Name);
        const QString from = QString::fromStdString(choice.AwayFrom);
        if (AwayFromOwnLink(choice))
            return QStringLiteral("Порт ") + from + QStringLiteral(" исчез: адаптер отключён. ") + name +
                   QStringLiteral(" откроет только ") + from + QLatin1Char('.');
        QString text = QStringLiteral("Адаптер отключён: ") + from;
        if (!choice.Description.empty())
            text += QStringLiteral(" — ") + QString::fromStdString(choice.Description);
        return text + QStringLiteral(". ") + name + QStringLiteral(" откроет только его.");
    }
    if (choice.Path.empty())
        return QStringLiteral("Порт не найден: в компьютере нет такого последовательного порта");
    QString text = QString::fromStdString(choice.Path);
    if (choice.Pinned && !choice.Target.empty() && choice.Target != choice.Path)
        text += QStringLiteral(" → ") + QString::fromStdString(choice.Target);
    if (!choice.Description.empty())
        text += QStringLiteral(" — ") + QString::fromStdString(choice.Description);
    return text;
}

QString AwayText(const TPortChoice& choice)
{
    if (!choice.Away)
        return {};
    const QString name = QString::fromStdString(choice.Name);
    const QString from = QString::fromStdString(choice.AwayFrom);
    const QString rest = QStringLiteral("; другой адаптер под этим именем не откроется.");
    if (AwayFromOwnLink(choice))
        return name + QStringLiteral(" закреплён за ") + from +
               QStringLiteral(", а его больше нет. Подключите адаптер снова") + rest;
    QString adapter = from;
    if (!choice.Description.empty())
        adapter += QStringLiteral(" (") + QString::fromStdString(choice.Description) + QLatin1Char(')');
    return name + QStringLiteral(" закреплён за адаптером ") + adapter +
           QStringLiteral(", а он отключён. Подключите его снова") + rest;
}

QString PresentPortsText(const std::vector<TPresentPort>& present)
{
    if (present.empty())
        return QStringLiteral("Последовательные порты не найдены.");
    QStringList items;
    for (const auto& port : present) {
        QString item = QString::fromStdString(port.Path);
        if (!port.Description.empty())
            item += QStringLiteral(" (") + QString::fromStdString(port.Description) + QLatin1Char(')');
        items << item;
    }
    const QString lead = present.size() == 1 ? QStringLiteral("Найден порт: ") : QStringLiteral("Найдены порты: ");
    return lead + items.join(QStringLiteral(", ")) + QLatin1Char('.');
}

}  // namespace vostrel
