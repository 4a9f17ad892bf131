// The fields of the parameter file: their names, units, codes and limits, the
// numbers as the window's edits show them, and the header lines.
#pragma once

#include "ParamFile.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel::paramfile {

inline constexpr const char* kFormatLine = "Vostrel parameters, format 1";
inline constexpr int kFormatVersion = 1;
inline constexpr long double kFreqMin = 140000.0L;
inline constexpr long double kFreqMax = 174000.0L;
// The largest pause with two decimals whose units still fit 16 bits.
inline constexpr long double kPauseMax = 195.29L;

// ---- numbers as the edits show them ----

// The number an edit with `decimals` shows for v, with sep as the decimal
// separator and without digit groups.
std::string Shown(long double v, int decimals, char sep = ',');

// What an edit holds once v was set into it: brought into its limits (when
// it has any), shown, and that text read back into the limits.
long double EditValue(long double v, int decimals, bool limited = false);

long double FreqEdit(long double v);
std::string FreqText(long double v);

// A value for a message, as exactly as it is held, with the decimal comma.
std::string Exact(long double v);

// ---- the fields ----

enum class TField {
    Step,
    Mode1,
    Rx1,
    Tx1,
    Power1,
    Mode2,
    Rx2,
    Tx2,
    Power2,
    Baud,
    Flow,
    Xoff,
    Pause,
    Air,
    Kod,
    Size,
};
inline constexpr std::size_t kFieldCount = 16;

struct TCode {
    int Code;
    const char* Name;
};

struct TFieldDef {
    TField Id;
    const char* Name;
    const char* Unit;         // as written; "" for none
    const char* UnitAliases;  // further spellings accepted, '|' between them
};

extern const std::array<TFieldDef, kFieldCount> kFields;

const TFieldDef& Def(TField f);
const std::vector<TCode>& CodesOf(TField f);
bool IsNumericCode(TField f);
std::size_t Channel(TField f);

// The code a selector field holds in set; simplex as 0 or 1.
int CodeIn(TField f, const TParameterSet& s);
void SetCode(TField f, TParameterSet& s, int code);

// The number field f of set, or null for a selector field.
template <class TSet>
auto NumberIn(TField f, TSet& s) -> decltype(&s.XoffAfter)
{
    switch (f) {
    case TField::Rx1:
    case TField::Rx2:
        return &s.RxFreq[Channel(f)];
    case TField::Tx1:
    case TField::Tx2:
        return &s.TxFreq[Channel(f)];
    case TField::Xoff:
        return &s.XoffAfter;
    case TField::Pause:
        return &s.RxPause;
    case TField::Size:
        return &s.KodPaketSize;
    default:
        return nullptr;
    }
}

long double NumberOf(TField f, const TParameterSet& s);
bool IsFrequency(TField f);
int DecimalsOf(TField f);
std::string ValueText(TField f, const TParameterSet& s);
std::string CodeList(TField f);

// Whether one field of set is a value the editors hold as it is. A message
// quotes the number as written when it came from a file (written: sign,
// digits, decimal comma), for the value held may be far from it.
bool CheckField(TField f, const TParameterSet& s, std::string& why, std::string_view written = {});
bool CheckSimplex(std::size_t ch, const TParameterSet& s, std::string& why);
bool SameField(TField f, const TParameterSet& a, const TParameterSet& b);

bool Fail(TParamFileError& error, int line, std::string field, std::string text);

// ---- the header ----

enum class THeader { Kind, When, Port, Note, Raw };
inline constexpr std::size_t kHeaderCount = 5;
inline constexpr std::array<const char*, kHeaderCount> kHeaderNames{"Копия", "Время", "Порт", "Примечание", "Блок"};
inline constexpr const char* kKindRead = "прочитано из станции";
inline constexpr const char* kKindSent = "отправлено в станцию";

}  // namespace vostrel::paramfile
