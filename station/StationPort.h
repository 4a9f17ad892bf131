// Opening a station's port on a thread of its own as the window's port list
// opens it: "COM1".."COM6" resolved afresh (a pinned /dev/COMn first, then the
// n-th present serial port), any other name as a device path; the lock file
// taken and other holders refused.
#pragma once

#include "CommInt.h"
#include "PortFinder.h"
#include "PortIdentity.h"
#include "PortLock.h"

#include <string>
#include <vector>

namespace vostrel {

class TStationPort {
public:
    TStationPort() = default;
    ~TStationPort();
    TStationPort(const TStationPort&) = delete;
    TStationPort& operator=(const TStationPort&) = delete;

    // Opens the port the operator named with the station line's settings.
    // false leaves it closed, with Failure set: the Russian text of the
    // window's failure box ("Не удалось открыть порт ...", the reason, what
    // the name reached and which ports there are).
    bool Open(const std::string& name, const std::string& lockDir = "/run/lock");
    // Opens the port named at Open again, after its device went away, only on
    // the device Open reached, wherever it is now (PortIdentity): a COMn name
    // on the adapter it was bound to, a link while it stands, a kernel name's
    // adapter under whatever name it now has; never a pty by its kernel name.
    bool Reopen(const std::string& lockDir = "/run/lock");
    // Closes the port (queued output still goes) and gives up the lock.
    void Close();

    TComm& Comm() { return m_comm; }
    const std::string& Name() const { return m_name; }
    const std::string& Path() const { return m_path; }
    const std::string& Failure() const { return m_failure; }

private:
    // at: the device's path now, for a name the finder does not resolve.
    bool OpenNamed(const std::string& lockDir, const std::string& at = {});

    TComm m_comm;
    TPortBindings m_bindings;    // the adapter the name reached, for a reopen
    TDeviceIdentity m_identity;  // the device Open reached, for a reopen
    TPortLock m_lock;
    std::string m_name;
    std::string m_path;
    std::string m_failure;
};

// Two of names that reach one device now (a COMn name resolved as Open
// resolves it, a link and its target): the text refusing them, naming both;
// "" when each reaches its own. Opens nothing.
std::string OneDeviceTwice(const std::vector<std::string>& names);

// "com3" is written "COM3"; any other name stays as it is.
std::string NormalisedPortName(const std::string& name);

}  // namespace vostrel
