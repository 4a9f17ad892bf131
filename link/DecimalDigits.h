// The decimal digits a number shows with a given count of decimals, as the
// window's edits round it; the parameter files read values back the same way.
#pragma once

#include <string>

namespace vostrel {

// |v| rounded half away from zero to `decimals` places on its 18-digit
// decimal expansion, as the decimal digit string D with value
// D * 10^-decimals (at least decimals + 1 digits).
std::string RoundedDigits(long double v, int decimals);

}  // namespace vostrel
