// The order in which every front-end opens a station's port: what the name
// reaches, the lock file, the programs that hold the device, the system's
// open, then three short pauses before the first wait. The front-end gives
// the steps that take time (the port lists, the holders, the open), so a
// window can run them aside from its thread and take newer picks meanwhile.
#pragma once

#include "PortLock.h"
#include "PortOpening.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vostrel {

class IOpeningSteps {
public:
    virtual ~IOpeningSteps() = default;
    // A newer pick or the closing took over: nothing more is done or told.
    virtual bool Superseded() { return false; }
    // What the name reaches now, given to opening (Choose or SetPath).
    virtual void Resolve(TPortOpening& opening) = 0;
    // Other processes holding the device open.
    virtual std::vector<std::string> Holders(const std::string& path) = 0;
    // The system's open with the station line's settings; throws on failure.
    virtual void Open(const std::string& path) = 0;
    virtual void Pause(std::uint32_t ms) = 0;
};

enum class TOpening {
    Done,        // the open call returned and the pauses are over
    Failed,      // refused or failed: opening words why
    Superseded,  // given up for a newer pick: nothing to tell
};

// Runs the steps in order; lock receives the device's lock file when the
// device needs one and it is ours. Never throws.
TOpening OpenInOrder(TPortOpening& opening, IOpeningSteps& steps, TPortLock& lock, const std::string& lockDir);

}  // namespace vostrel
