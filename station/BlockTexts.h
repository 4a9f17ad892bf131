// What a parameter set or a block says to the operator: the fields that
// change, the bytes that differ, a parameter file shown as the window shows it.
#pragma once

#include "LinkIo.h"
#include "ParamBlock.h"
#include "ParamFile.h"

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

namespace vostrel {

std::string ToUtf8(const QString& s);
// The local time as the result lines show it.
std::string Now();
// Characters (not bytes) of UTF-8 text.
std::size_t Utf8Length(const std::string& text);

// Upper-case hex bytes from..from+count-1, blank-separated.
std::string HexLine(const TByteArray& bytes, std::size_t from, std::size_t count);
std::string Joined(const std::vector<std::string>& parts, const std::string& separator);
// "Name: before → after unit" for each field the window would show otherwise.
std::vector<std::string> ChangedFields(const TParameterSet& before, const TParameterSet& after);
// What "A → B" means in a result line, said once before the fields: the
// station's value and the new one, or what was sent and what was read back.
inline constexpr const char* kChangedLabel = "(было → стало)";
inline constexpr const char* kReadBackLabel = "(отправлено → прочитано)";

// For each field of set in DescribeSet's order: "" where programming sends
// it as it stands, otherwise "145580,0 → будет отправлено 145575,0 кГц" (a
// frequency off the grid, rounded as the window rounds it).
std::vector<std::string> SentValues(const TParameterSet& set);
// "Name: 145580,0 → будет отправлено 145575,0 кГц" for each field SentValues
// does not leave empty: what program says before sending, diff after the
// differences.
std::vector<std::string> SentOtherwise(const TParameterSet& set);
// "k: AA → BB" for each byte from..to-1 that differs.
std::string ByteChanges(const TByteArray& a, const TByteArray& b, std::size_t from, std::size_t to);
// What a station read back holds otherwise than it was sent: the fields of
// bytes 0–17 as they decode (the bytes themselves where no field shows it),
// and the calibration bytes on their own.
std::vector<std::string> ReadBackDifferences(const TByteArray& sent, const TByteArray& back);
// A parameter file as "Name:  value" rows aligned, as show prints it.
std::string ShowText(const TParamFile& file);

}  // namespace vostrel
