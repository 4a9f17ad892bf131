#include "StationPort.h"

#include "CommLink.h"
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
    return OpenNamed(lockDir);
}

bool TStationPort::Reopen(const std::string& lockDir)
{
    return OpenNamed(lockDir);
}

bool TStationPort::OpenNamed(const std::string& lockDir)
{
    Close();
    m_failure.clear();
    TPortOpening opening(QString::fromStdString(m_name));
    m_path = opening.Path();
    try {
        const std::vector<TPresentPort> present = ListPresentPorts();
        const bool reached = opening.Choose(FindPortChoices(present, &m_bindings), present);
        m_path = opening.Path();
        if (reached && opening.Shared()) {
            TPortLock lock = opening.Lock(lockDir);
            if (!opening.Refused()) {
                m_lock = std::move(lock);
                opening.Unheld(PortHolders(opening.Path()));
            }
        }
        if (!opening.Refused())
            OpenStationLine(m_comm, m_path);
    } catch (const ECommError& e) {
        opening.Failed(e.ErrorCode, QString::fromLocal8Bit(e.what()));
    } catch (const std::exception& e) {
        opening.Failed(0, QString::fromLocal8Bit(e.what()));
    }
    if (m_comm.IsOpen())
        return true;
    m_lock.Release();
    m_failure = opening.FailureText().toStdString();
    return false;
}

}  // namespace vostrel
