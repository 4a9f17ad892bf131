// The simulator's notes show bytes as hex pairs: "10 00 00 01 B0 10 03".
#pragma once

#include "LinkIo.h"

#include <string>

namespace vostrel {

std::string HexText(const TByteArray& bytes);

}  // namespace vostrel
