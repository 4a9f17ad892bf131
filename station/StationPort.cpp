#include "StationPort.h"

#include "CommLink.h"
#include "OpeningOrder.h"
#include "PortFinder.h"
#include "PortOpening.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <exception>

namespace vostrel {

std::string NormalisedPortName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return name;
    std::string upper;
    for (char c : name)
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    const bool digits = std::all_of(upper.begin() + 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; });
    return upper.rfind("COM", 0) == 0 && digits && upper[3] != '0' ? upper : name;
}

std::string OneDeviceTwice(const std::vector<std::string>& names)
{
    std::vector<TPresentPort> present;
    std::vector<TPortChoice> choices;
    try {
        present = ListPresentPorts();
        TPortBindings bindings;
        choices = FindPortChoices(present, &bindings);
    } catch (const std::exception&) {
        // Then the names reach their plain paths, as Open would find them.
    }
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        TPortOpening opening(QString::fromStdString(NormalisedPortName(name)));
        opening.Choose(choices, present);
        paths.push_back(opening.Path());
    }
    for (std::size_t k = 0; k < paths.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (paths[j] == paths[k] || SameDevice(paths[j], paths[k]))
                return "порты " + names[j] + " и " + names[k] + " — одно и то же устройство (" + paths[k] +
                       "); укажите его один раз";
        }
    }
    return {};
}

TStationPort::~TStationPort()
{
    Close();
}

void TStationPort::Close()
{
    try {
        m_comm.ClosePort();
    } catch (...) {
        // The device is no longer ours either way.
    }
    m_lock.Release();
}

bool TStationPort::Open(const std::string& name, const std::string& lockDir)
{
    m_name = NormalisedPortName(name);
    // One fresh session per run: the name reaches what it reaches now.
    m_bindings = TPortBindings{};
    m_identity = TDeviceIdentity{};
    if (!OpenNamed(lockDir))
        return false;
    // Kernel names pass to the next device: a return is known by the device.
    m_identity = PortIdentity(m_name, m_path);
    return true;
}

bool TStationPort::Reopen(const std::string& lockDir)
{
    if (m_identity.By == TDeviceIdentity::TBy::Bound)
        return OpenNamed(lockDir);
    const std::string at = DeviceNowAt(m_identity);
    if (at.empty()) {
        Close();
        m_failure = "Устройство порта " + m_name + " не вернулось";
        return false;
    }
    return OpenNamed(lockDir, at);
}

namespace {

// On a port's own thread every step may simply take its time.
class TThreadSteps : public IOpeningSteps {
public:
    // resolve: the name is looked for among the system's ports. Not for a
    // device found again by its identity: walking every port at each try of
    // a reopen fragmented the port thread's heap a little more every outage.
    TThreadSteps(TComm& comm, TPortBindings& bindings, bool resolve)
        : m_comm(comm), m_bindings(bindings), m_resolve(resolve)
    {}

    void Resolve(TPortOpening& opening) override
    {
        if (!m_resolve)
            return;
        const std::vector<TPresentPort> present = ListPresentPorts();
        opening.Choose(FindPortChoices(present, &m_bindings), present);
    }
    std::vector<std::string> Holders(const std::string& path) override { return PortHolders(path); }
    void Open(const std::string& path) override { OpenStationLine(m_comm, path); }
    void Pause(std::uint32_t ms) override { SleepMs(ms); }

private:
    TComm& m_comm;
    TPortBindings& m_bindings;
    bool m_resolve;
};

}  // namespace

bool TStationPort::OpenNamed(const std::string& lockDir, const std::string& at)
{
    Close();
    m_failure.clear();
    TPortOpening opening(QString::fromStdString(m_name));
    if (!at.empty())
        opening.SetPath(at);
    TThreadSteps steps(m_comm, m_bindings, at.empty());
    const TOpening opened = OpenInOrder(opening, steps, m_lock, lockDir);
    m_path = opening.Path();
    if (opened == TOpening::Done && m_comm.IsOpen())
        return true;
    m_lock.Release();
    m_failure = opening.FailureText().toStdString();
    return false;
}

}  // namespace vostrel
