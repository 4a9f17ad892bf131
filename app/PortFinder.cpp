#include "PortFinder.h"
#include "SysFiles.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace {

// Digit runs compare as numbers so "ttyS2" < "ttyS10" and "1-2" < "1-10".
int NaturalCompare(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && IsDigit(a[ei]))
                ++ei;
            while (ej < b.size() && IsDigit(b[ej]))
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

bool PathExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
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

// "1-1.2" or "3-10": bus, a dash, then port numbers joined by dots.
bool IsUsbPortPath(std::string_view s)
{
    const std::size_t dash = s.find('-');
    if (dash == 0 || dash == std::string_view::npos)
        return false;
    if (!std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(dash), IsDigit))
        return false;
    std::string_view ports = s.substr(dash + 1);
    bool digitSeen = false;
    for (const char c : ports) {
        if (IsDigit(c)) {
            digitSeen = true;
        } else if (c == '.' && digitSeen) {
            digitSeen = false;
        } else {
            return false;
        }
    }
    return digitSeen;
}

// "1.0": configuration and interface numbers.
bool IsUsbInterfaceSuffix(std::string_view s)
{
    const std::size_t dot = s.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == s.size())
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return IsDigit(c) || c == '.'; }) &&
           s.find('.', dot + 1) == std::string_view::npos;
}

// The serial core gives every UART a "type"; 0 means no chip answered at
// probe time, as with the legacy ttyS1..ttyS31 slots on most PCs.
std::optional<long> UartType(const std::string& sysDir)
{
    const auto text = ReadSmallFile(sysDir + "/type");
    if (!text || text->empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long type = std::strtol(text->c_str(), &end, 10);
    if (errno != 0 || end == text->c_str() || *end != '\0')
        return std::nullopt;
    return type;
}

bool IsPseudoTerminal(const TListedPort& port)
{
    return StartsWith(port.Path, "/dev/pts/") || StartsWith(port.Name, "pts") || port.Name == "ptmx";
}

bool HasBuiltInName(std::string_view name)
{
    static constexpr std::string_view kPrefixes[] = {"ttyS", "ttyAMA", "ttymxc", "ttyO", "ttyTHS", "ttyMSM", "ttyPS"};
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes), [&](std::string_view p) {
        return StartsWith(name, p) && name.size() > p.size() && IsDigit(name[p.size()]);
    });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (prefix.size() > s.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), s.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Hex4(std::uint16_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(v));
    return buf;
}

std::string DescribeListed(const TListedPort& port, TPresentPort::TKind kind)
{
    std::string text;
    // Many products already carry the maker's name ("FTDI FT232R ...").
    if (!port.Manufacturer.empty() && !StartsWithNoCase(port.Product, port.Manufacturer)) {
        text = port.Manufacturer;
        if (!port.Product.empty())
            text += " " + port.Product;
    } else {
        text = port.Product;
    }
    if (text.empty() && port.VendorId) {
        text = "USB " + Hex4(*port.VendorId);
        if (port.ProductId)
            text += ":" + Hex4(*port.ProductId);
    }
    if (!port.SerialNumber.empty())
        text += (text.empty() ? "s/n " : ", s/n ") + port.SerialNumber;
    if (text.empty() && kind == TPresentPort::TKind::BuiltIn)
        text = "встроенный последовательный порт";
    return text;
}

TPresentPort::TKind KindOf(const TListedPort& port, bool serialCore)
{
    if (StartsWith(port.Name, "ttyUSB") || StartsWith(port.Name, "ttyACM"))
        return TPresentPort::TKind::Usb;
    if (serialCore || HasBuiltInName(port.Name))
        return TPresentPort::TKind::BuiltIn;
    if (port.VendorId)
        return TPresentPort::TKind::Usb;
    return TPresentPort::TKind::Other;
}

std::string FromQt(const QString& s)
{
    return s.toStdString();
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
                                         const TPathMap& realPath, int count)
{
    std::vector<TPresentPort> ordered = present;
    std::stable_sort(ordered.begin(), ordered.end(), PortBefore);
    std::vector<std::string> orderedReal;
    orderedReal.reserve(ordered.size());
    for (const auto& port : ordered) {
        std::string real = realPath(port.Path);
        orderedReal.push_back(real.empty() ? port.Path : std::move(real));
    }

    std::vector<TPortChoice> choices(static_cast<std::size_t>(std::max(count, 0)));
    std::set<std::string> taken;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        TPortChoice& choice = choices[i];
        choice.Name = "COM" + std::to_string(i + 1);
        const std::string link = "/dev/" + choice.Name;
        if (!exists(link))
            continue;
        choice.Path = link;
        choice.Pinned = true;
        const std::string target = realPath(link);
        if (target.empty())
            continue;
        taken.insert(target);
        const auto hit = std::find(orderedReal.begin(), orderedReal.end(), target);
        if (hit != orderedReal.end()) {
            const TPresentPort& port = ordered[static_cast<std::size_t>(hit - orderedReal.begin())];
            choice.Target = port.Path;
            choice.Description = port.Description;
        } else if (target != link) {
            choice.Target = target;
        }
    }

    std::size_t next = 0;
    for (auto& choice : choices) {
        if (choice.Pinned)
            continue;
        while (next < ordered.size() && taken.count(orderedReal[next]) != 0)
            ++next;
        if (next == ordered.size())
            break;
        choice.Path = ordered[next].Path;
        choice.Description = ordered[next].Description;
        ++next;
    }
    return choices;
}

std::string UsbLocation(const std::string& deviceRealPath)
{
    // ttyACM's device is the interface itself, ttyUSB's sits one level below it.
    std::string_view rest = deviceRealPath;
    while (!rest.empty()) {
        const std::size_t slash = rest.rfind('/');
        const std::string_view part = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
        const std::size_t colon = part.find(':');
        if (colon != std::string_view::npos && IsUsbPortPath(part.substr(0, colon)) &&
            IsUsbInterfaceSuffix(part.substr(colon + 1)))
            return std::string(part.substr(0, colon));
        if (slash == std::string_view::npos)
            break;
        rest = rest.substr(0, slash);
    }
    return {};
}

std::vector<TPresentPort> PresentPorts(const std::vector<TListedPort>& listed, const std::string& sysClassTty,
                                       const std::string& devDir)
{
    std::vector<TPresentPort> ports;
    std::set<std::string> seen;
    for (const auto& port : listed) {
        if (IsPseudoTerminal(port) || port.Name.empty())
            continue;
        seen.insert(port.Name);
        const std::string sysDir = sysClassTty + "/" + port.Name;
        const std::optional<long> type = UartType(sysDir);
        if (type && *type == 0)
            continue;
        TPresentPort present;
        present.Path = port.Path.empty() ? devDir + "/" + port.Name : port.Path;
        present.Kind = KindOf(port, type.has_value());
        if (present.Kind == TPresentPort::TKind::Usb)
            present.Location = UsbLocation(RealPath(sysDir + "/device"));
        present.Description = DescribeListed(port, present.Kind);
        ports.push_back(std::move(present));
    }
    // The list may leave out a UART it could not open (busy, or no access),
    // which would shift every later name; sysfs tells without opening it.
    for (const auto& name : DirectoryEntries(sysClassTty)) {
        if (seen.count(name) != 0)
            continue;
        const std::optional<long> type = UartType(sysClassTty + "/" + name);
        if (!type || *type == 0 || !PathExists(devDir + "/" + name))
            continue;
        TListedPort uart;
        uart.Name = name;
        TPresentPort present;
        present.Path = devDir + "/" + name;
        present.Kind = TPresentPort::TKind::BuiltIn;
        present.Description = DescribeListed(uart, present.Kind);
        ports.push_back(std::move(present));
    }
    std::stable_sort(ports.begin(), ports.end(), PortBefore);
    return ports;
}

std::vector<TPresentPort> ListPresentPorts()
{
    std::vector<TListedPort> listed;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TListedPort port;
        port.Name = FromQt(info.portName());
        port.Path = FromQt(info.systemLocation());
        port.Product = FromQt(info.description().trimmed());
        port.Manufacturer = FromQt(info.manufacturer().trimmed());
        port.SerialNumber = FromQt(info.serialNumber().trimmed());
        if (info.hasVendorIdentifier())
            port.VendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.ProductId = info.productIdentifier();
        listed.push_back(std::move(port));
    }
    return PresentPorts(listed, "/sys/class/tty", "/dev");
}

std::vector<TPortChoice> FindComPorts(const std::vector<TPresentPort>& present, int count)
{
    return ResolveComPorts(present, PathExists, RealPath, count);
}

std::vector<TPortChoice> FindComPorts(int count)
{
    return FindComPorts(ListPresentPorts(), count);
}

QString PortToolTip(const TPortChoice& choice)
{
    if (choice.Path.empty())
        return QStringLiteral("Порт не найден: в компьютере нет такого последовательного порта");
    QString text = QString::fromStdString(choice.Path);
    if (choice.Pinned && !choice.Target.empty() && choice.Target != choice.Path)
        text += QStringLiteral(" → ") + QString::fromStdString(choice.Target);
    if (!choice.Description.empty())
        text += QStringLiteral(" — ") + QString::fromStdString(choice.Description);
    return text;
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
