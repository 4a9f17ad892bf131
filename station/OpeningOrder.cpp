#include "OpeningOrder.h"

#include "CommInt.h"
#include "PortError.h"

#include <exception>

namespace vostrel {

TOpening OpenInOrder(TPortOpening& opening, IOpeningSteps& steps, TPortLock& lock, const std::string& lockDir)
{
    try {
        steps.Resolve(opening);
        if (steps.Superseded())
            return TOpening::Superseded;
        // Another program's lock file, or a program that keeps the port open
        // without locking it, would share the station's bytes with us: both
        // make a busy port. Only a real device has either.
        if (!opening.Refused() && opening.Shared()) {
            TPortLock taken = opening.Lock(lockDir);
            if (!opening.Refused()) {
                lock = std::move(taken);
                const std::vector<std::string> holders = steps.Holders(opening.Path());
                if (steps.Superseded())
                    return TOpening::Superseded;
                opening.Unheld(holders);
            }
        }
        if (opening.Refused()) {
            lock.Release();
            return TOpening::Failed;
        }
        steps.Open(opening.Path());
        if (steps.Superseded())
            return TOpening::Superseded;
        for (int i = 0; i < 3; ++i) {
            steps.Pause(10);
            if (steps.Superseded())
                return TOpening::Superseded;
        }
        return TOpening::Done;
    } catch (const std::exception& e) {
        if (steps.Superseded())
            return TOpening::Superseded;
        const auto* comm = dynamic_cast<const ECommError*>(&e);
        const int code = comm != nullptr ? comm->ErrorCode : 0;
        // A device no lock file covers (a pseudo-terminal) refuses a second
        // open by itself: its holder is then found by the descriptor it keeps.
        std::vector<std::string> holders;
        if (code > 0 && PortErrorKind(code) == TPortErrorKind::Busy && opening.Holders().isEmpty()) {
            try {
                holders = steps.Holders(opening.Path());
            } catch (const std::exception&) {
                // Then the failure names no holder.
            }
        }
        opening.Failed(code, QString::fromLocal8Bit(e.what()), holders);
    }
    lock.Release();
    return steps.Superseded() ? TOpening::Superseded : TOpening::Failed;
}

}  // namespace vostrel
