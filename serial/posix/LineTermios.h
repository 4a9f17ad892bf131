// The translation between the line-settings record and termios, kept free of
// device calls so that every rule can be checked on its own.
#pragma once

#include "CommInt.h"

#include <cstdint>
#include <termios.h>

namespace vostrel {

// Flag bits termios cannot hold; the device "reports" them as last written.
constexpr std::uint32_t kDeviceOnlyFlags = dcbOutxDsrFlow | dcbDtrControlMask | dcbDsrSensitivity |
                                           dcbTXContinueOnXoff | dcbErrorChar | dcbNull | dcbRtsControlMask |
                                           dcbAbortOnError;

// What a freshly opened line reports: Linux raises DTR and RTS on open.
constexpr std::uint32_t kOpenedLineFlags = dcbBinary | dcbDtrControlEnable | dcbRtsControlEnable;

// Turns t (as read from the device) into the raw line the record describes.
// Returns 0, or EINVAL for a record termios cannot express (a DTR/DSR
// handshake among them). customRate is set when the bit rate has no Bxxx
// constant (t then carries B38400 and the rate must follow through termios2).
int TermiosFromDcb(const TDcb& dcb, termios& t, bool& customRate);

// Fills the record from t; the bits in kDeviceOnlyFlags come from
// deviceOnlyFlags. The bit rate is left to the caller.
void DcbFromTermios(const termios& t, std::uint32_t deviceOnlyFlags, TDcb& dcb);

}  // namespace vostrel
