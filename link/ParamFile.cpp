// The file written, and the window's path from a block to its editors and back.
#include "ParamFile.h"

#include "ParamFields.h"
#include "ParamText.h"

#include <cmath>
#include <cstdio>

using namespace vostrel;
using namespace vostrel::paramfile;

namespace {

std::string HexLine(const TByteArray& raw)
{
    std::string out;
    char buf[4];
    for (std::uint8_t b : raw) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty())
            out.push_back(' ');
        out += buf;
    }
    return out;
}

// Comments on what the station held that the window does not show as it is.
std::vector<std::string> StationNotes(const TByteArray& raw, const TParameterSet& shown)
{
    std::vector<std::string> notes;
    TParameterSet held;
    if (!DecodeBlock(raw, shown, held))
        return notes;
    for (TField f : {TField::Rx1, TField::Tx1, TField::Rx2, TField::Tx2}) {
        const long double v = NumberOf(f, held);
        if (v < kFreqMin || v > kFreqMax)
            notes.push_back("# В станции " + Quoted(Def(f).Name) + " " + Shown(v, 1) +
                            " кГц: вне пределов окна, оно показывает " + Shown(NumberOf(f, shown), 1) + " кГц");
    }
    const unsigned mode = raw[12];
    if (((mode >> 2) & 3u) == 3)
        notes.push_back("# В станции " + Quoted(Def(TField::Flow).Name) +
                        " с кодом 3: в окне такого нет, оно оставило прежнее значение");
    if (((mode >> 5) & 3u) == 3)
        notes.push_back("# В станции " + Quoted(Def(TField::Air).Name) +
                        " с кодом 3: в окне такого нет, оно оставило прежнее значение");
    return notes;
}

// ---- the window's path ----

// What the editors hold once the window has shown set: ShowParameters.
TParameterSet EditorsShowing(const TParameterSet& set)
{
    TParameterSet e = set;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        e.RxFreq[ch] = FreqEdit(set.RxFreq[ch]);
        e.TxFreq[ch] = FreqEdit(set.TxFreq[ch]);
    }
    e.XoffAfter = EditValue(set.XoffAfter, 0);
    e.RxPause = EditValue(set.RxPause, 2);
    e.KodPaketSize = EditValue(set.KodPaketSize, 0);
    return e;
}

}  // namespace

TParameterSet vostrel::ShownSet(const TByteArray& block, const TParameterSet& previous)
{
    TParameterSet decoded;
    if (!DecodeBlock(block, previous, decoded))
        return previous;
    return EditorsShowing(decoded);
}

TParameterSet vostrel::ProgrammedSet(const TParameterSet& shown)
{
    TParameterSet e = EditorsShowing(shown);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        // The receive edit first; a change of its text, while the toggle
        // shows simplex, copies it into the transmit edit.
        const long double rx = RoundToGrid(e.RxFreq[ch], e.StepCode);
        const bool changed = FreqText(rx) != FreqText(e.RxFreq[ch]);
        e.RxFreq[ch] = FreqEdit(rx);
        if (changed && e.Simplex[ch])
            e.TxFreq[ch] = FreqEdit(e.RxFreq[ch]);
        e.TxFreq[ch] = FreqEdit(RoundToGrid(e.TxFreq[ch], e.StepCode));
    }
    for (std::size_t ch = 0; ch < 2; ++ch)
        e.Simplex[ch] = std::fabs(e.TxFreq[ch] - e.RxFreq[ch]) < 0.001L;
    return e;
}

TByteArray vostrel::ProgrammingBlock(const TParameterSet& shown, ILogSink& log)
{
    return EncodeBlock(ProgrammedSet(shown), log);
}

bool vostrel::CheckEditorLimits(const TParameterSet& set, TParamFileError& error)
{
    std::string why;
    for (const TFieldDef& def : kFields) {
        if (!CheckField(def.Id, set, why))
            return Fail(error, 0, def.Name, why);
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        if (!CheckSimplex(ch, set, why))
            return Fail(error, 0, Def(ch == 0 ? TField::Tx1 : TField::Tx2).Name, why);
    }
    return true;
}

std::vector<TFieldText> vostrel::DescribeSet(const TParameterSet& set)
{
    std::vector<TFieldText> out;
    for (const TFieldDef& def : kFields)
        out.push_back(TFieldText{def.Name, ValueText(def.Id, set), def.Unit});
    return out;
}

// ---- the file ----

std::string vostrel::FormatParamFile(const TParamFile& file)
{
    std::string out = std::string(kFormatLine) + "\n";
    out += "# Параметры радиостанции Vostrel: в каждой строке «поле: значение единица».\n"
           "# Частоты в кГц (с запятой или точкой), мощность в Вт, коды — как их показывает окно.\n"
           "# Строки с # и пустые строки не читаются.\n";
    if (file.Raw) {
        out += "# Это копия: строка «Блок» — байты, как они были в станции (их отправит восстановление),\n"
               "# поля — их чтение в окне. Чтобы запрограммировать изменённые поля, удалите строку «Блок».\n";
    }
    const auto header = [&out](THeader h, const std::string& value) {
        out += kHeaderNames[static_cast<std::size_t>(h)];
        out += ':';
        if (!value.empty())
            out += ' ' + value;
        out += '\n';
    };
    if (!file.Kind.empty())
        header(THeader::Kind, file.Kind == "read" ? kKindRead : (file.Kind == "sent" ? kKindSent : Clean(file.Kind)));
    if (!Clean(file.When).empty())
        header(THeader::When, Clean(file.When));
    if (!Clean(file.Port).empty())
        header(THeader::Port, Clean(file.Port));
    header(THeader::Note, Clean(file.Note));
    out += '\n';
    for (const TFieldText& f : DescribeSet(file.Set))
        out += f.Name + ": " + f.Value + (f.Unit.empty() ? "" : " " + f.Unit) + "\n";
    if (file.Raw) {
        out += '\n';
        for (const std::string& note : StationNotes(*file.Raw, file.Set))
            out += note + "\n";
        header(THeader::Raw, HexLine(*file.Raw));
    }
    return out;
}
