// The parameter file: copies and operators' files round trip, every error
// names its line and field, and the window's path from a block to the editors
// and from the editors to the block sent.
#include "ParamFile.h"

#include "EdgeBlocks.h"
#include "FakeLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace vostrel {

// Failures show a file as its text.
void PrintTo(const TParamFile& f, std::ostream* os)
{
    *os << "\n" << FormatParamFile(f);
}

namespace {

TByteArray Encode(const TParameterSet& set)
{
    TNullLog log;
    return EncodeBlock(set, log);
}

TByteArray Programmed(const TParameterSet& shown)
{
    TNullLog log;
    return ProgrammingBlock(shown, log);
}

TParamFile CopyOf(const TByteArray& block, const TParameterSet& previous = {})
{
    return TParamFile{.Kind = "read",
                      .When = "2026-12-07 21:03:55",
                      .Port = "COM1 (/dev/ttyUSB0)",
                      .Note = "",
                      .Set = ShownSet(block, previous),
                      .Raw = block};
}

TEST(ParamFile, CopiesAndTheirReadingRoundTripForEveryBlock)
{
    const TParameterSet previous{.FlowCode = 2, .AirSpeedCode = 1};
    for (const TBlockRow& row : EdgeBlocks(200)) {
        SCOPED_TRACE(row.Label);
        const TParamFile copy = CopyOf(row.Block, previous);
        TParamFileError error;
        EXPECT_TRUE(CheckEditorLimits(copy.Set, error)) << DescribeParamFileError(error);

        // The copy: its bytes exactly, its fields as the window showed them.
        const std::string text = FormatParamFile(copy);
        TParamFile back;
        ASSERT_TRUE(ParseParamFile(text, back, error)) << DescribeParamFileError(error) << "\n" << text;
        EXPECT_EQ(back, copy);

        // Without its bytes it is an operator's file that programs what the
        // window would program after showing the station.
        TParamFile own = back;
        own.Raw.reset();
        own.Kind.clear();
        TParamFile ownBack;
        ASSERT_TRUE(ParseParamFile(FormatParamFile(own), ownBack, error)) << DescribeParamFileError(error);
        EXPECT_EQ(ownBack, own);
        EXPECT_EQ(Programmed(ownBack.Set), Programmed(ShownSet(row.Block, previous)));
    }
}

TEST(ParamFile, TheWindowsPathFromBlockToEditorsAndBack)
{
    TByteArray station = DefaultStationBlock();
    // A station on the grid gets its own block back.
    EXPECT_EQ(Programmed(ShownSet(station, {})), station);

    // Pause bytes 01 00 are 0.76288 ms, shown 0,76, sent as 255 units.
    station[14] = 0x01;
    station[15] = 0x00;
    const TParameterSet shown = ShownSet(station, {});
    EXPECT_EQ(shown.RxPause, 0.76L);
    const TByteArray sent = Programmed(shown);
    EXPECT_EQ(sent[14], 0x00);
    EXPECT_EQ(sent[15], 0xFF);

    // Outside the band: the edits' limits, the toggles as decoded; duplex
    // ZPCH1 whose two frequencies both fall on 140000 goes out as simplex.
    TByteArray low = DefaultStationBlock();
    PutWord(low, 0, (120000 + 45000) / 12.5);
    PutWord(low, 6, 130000 / 12.5);
    PutWord(low, 3, (100000 + 45000) / 12.5);
    PutWord(low, 9, 180000 / 12.5);
    const TParameterSet edges = ShownSet(low, {});
    EXPECT_EQ(edges.RxFreq, (std::array<long double, 2>{140000.0L, 140000.0L}));
    EXPECT_EQ(edges.TxFreq, (std::array<long double, 2>{140000.0L, 174000.0L}));
    EXPECT_EQ(edges.Simplex, (std::array<bool, 2>{false, false}));
    TParameterSet expected = edges;
    expected.Simplex = {true, false};
    EXPECT_EQ(Programmed(edges), Encode(expected));

    // Flow control and air speed code 3 keep the editors' earlier codes.
    TByteArray three = DefaultStationBlock();
    three[12] = 0x7F;
    const TParameterSet kept = ShownSet(three, TParameterSet{.FlowCode = 1, .AirSpeedCode = 2});
    EXPECT_EQ(kept.FlowCode, 1);
    EXPECT_EQ(kept.AirSpeedCode, 2);
    EXPECT_EQ(kept.BaudCode, 3);
    EXPECT_EQ(kept.KodCode, 1);

    // A block too short to decode is never shown.
    const TParameterSet before = WorkedSet();
    EXPECT_EQ(ShownSet(TByteArray(17, 0), before), before);

    // Programming rounds to the grid; a simplex channel's transmit edit
    // follows its receive edit, a duplex one is rounded by itself.
    TParameterSet off = WorkedSet();
    off.RxFreq = {145587.5L, 150006.3L};
    off.TxFreq = {145587.5L, 150006.2L};
    off.Simplex = {true, false};
    TParameterSet rounded = off;
    rounded.RxFreq = {145600.0L, 150000.0L};
    rounded.TxFreq = {145600.0L, 150000.0L};
    EXPECT_EQ(Programmed(off), Encode(rounded));
    off.StepCode = 1;
    rounded.StepCode = 1;
    rounded.RxFreq = {145587.5L, 150012.5L};
    rounded.TxFreq = {145587.5L, 150000.0L};
    EXPECT_EQ(Programmed(off), Encode(rounded));

    // The eight calibration lines go to the log given.
    RecordingLog log;
    ProgrammingBlock(WorkedSet(), log);
    EXPECT_EQ(log.lines.size(), 8u);
}

// An operator's file of the worked example; rows below change one line.
const std::vector<std::string> kOwnFile{
    "Vostrel parameters, format 1",   // 1
    "# станция на вышке",             // 2
    "Примечание: вышка 3",            // 3
    "Шаг сетки частот: 25,0 кГц",     // 4
    "ЗПЧ1 режим: симплекс",           // 5
    "ЗПЧ1 приём: 145575,0 кГц",       // 6
    "ЗПЧ1 передача: 145575,0 кГц",    // 7
    "ЗПЧ1 мощность: 5 Вт",            // 8
    "ЗПЧ2 режим: разнесённый приём",  // 9
    "ЗПЧ2 приём: 150000,0 кГц",       // 10
    "ЗПЧ2 передача: 160000,0 кГц",    // 11
    "ЗПЧ2 мощность: 25 Вт",           // 12
    "Скорость COM-порта: 19200 бит/с",
    "Управление потоком: Xon/Xoff",
    "Отдавать Xoff после: 100 байт",
    "Пауза для RxD -> ПРД: 10,00 мс",
    "Скорость в эфире: 4800 бит/с",
    "Помехостойкий код: РМК7",
    "Размер кодир. пакета: 24 байт",  // 19
};

std::string Join(const std::vector<std::string>& lines, const char* eol = "\n")
{
    std::string out;
    for (const std::string& l : lines)
        out += l + eol;
    return out;
}

std::vector<std::string> With(std::size_t line, const std::string& text)
{
    std::vector<std::string> lines = kOwnFile;
    lines[line - 1] = text;
    return lines;
}

TEST(ParamFile, ReadsWhatATechnicianMayType)
{
    TParamFile worked;
    TParamFileError error;
    ASSERT_TRUE(ParseParamFile(Join(kOwnFile), worked, error)) << DescribeParamFileError(error);
    EXPECT_EQ(worked.Set, WorkedSet());
    EXPECT_EQ(worked.Note, "вышка 3");
    EXPECT_EQ(worked.Kind, "");
    EXPECT_FALSE(worked.Raw.has_value());

    struct Row {
        const char* label;
        std::size_t line;
        std::string text;
    };
    // Line 2, a comment, padded so that the file is as large as one may be.
    const std::string comment = kOwnFile[1];
    const std::string largest = comment + std::string(kMaxParamFileBytes - Join(kOwnFile).size(), 'x');
    const Row rows[] = {
        {"a decimal point", 6, "ЗПЧ1 приём: 145575.0 кГц"},
        {"digit groups as the window shows them", 6, "ЗПЧ1 приём: 145 575,0 кГц"},
        {"no-break spaces as Russian-locale tools write them", 6, "ЗПЧ1 приём: 145\u00A0575,0\u00A0кГц"},
        {"narrow no-break spaces", 6, "ЗПЧ1 приём: 145\u202F575,0\u202FкГц"},
        {"a file of the largest size", 2, largest},
        {"no decimals, no unit", 6, "ЗПЧ1 приём: 145575"},
        {"a unit in Latin letters", 6, "ЗПЧ1 приём: 145575,0 kHz"},
        {"case, blanks and е for ё", 6, "  зпч1   ПРИЕМ :145575,0кГц"},
        {"the window's en dash", 16, "Пауза для RxD –> ПРД: 10 мс"},
        {"a code in other case", 18, "помехостойкий код: рмк7"},
        {"a flow control in capitals", 14, "Управление потоком: XON/XOFF"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TParamFile f;
        ASSERT_TRUE(ParseParamFile(Join(With(row.line, row.text)), f, error)) << DescribeParamFileError(error);
        EXPECT_EQ(f.Set, WorkedSet());
    }

    // Windows line ends and a byte-order mark.
    TParamFile crlf;
    ASSERT_TRUE(ParseParamFile("\xEF\xBB\xBF" + Join(kOwnFile, "\r\n"), crlf, error)) << DescribeParamFileError(error);
    EXPECT_EQ(crlf, worked);

    // Off the grid within the limits is taken as it is; programming rounds
    // it, here up to 150025,0 kHz: word 15602, 4N + 1 = 0x00F3C9.
    TParamFile off;
    ASSERT_TRUE(ParseParamFile(Join(With(10, "ЗПЧ2 приём: 150012,5 кГц")), off, error));
    EXPECT_EQ(off.Set.RxFreq[1], 150012.5L);
    const TByteArray sent = Programmed(off.Set);
    EXPECT_EQ(TByteArray(sent.begin() + 3, sent.begin() + 6), (TByteArray{0x00, 0xF3, 0xC9}));
}

TEST(ParamFile, EveryErrorNamesItsLineAndField)
{
    struct Row {
        const char* label;
        std::string text;
        int line;
        std::string field;
        std::string says;  // a part of the message
    };
    const std::string copy = FormatParamFile(CopyOf(DefaultStationBlock()));
    auto copyWith = [&copy](const std::string& from, const std::string& to) {
        std::string t = copy;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    auto lineOf = [](const std::string& text, const std::string& part) {
        return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(text.find(part)), '\n'));
    };
    std::string cutShort = copy;
    cutShort.erase(cutShort.find('\n', cutShort.find("Блок:")) - 3, 3);
    const std::string editedCopy = copyWith("ЗПЧ2 мощность: 25 Вт", "ЗПЧ2 мощность: 10 Вт");
    std::vector<std::string> missing = kOwnFile;
    missing.erase(missing.begin() + 9);
    std::vector<std::string> twice = kOwnFile;
    twice.push_back("ЗПЧ1 приём: 145575,0 кГц");

    const Row rows[] = {
        {"empty", "", 0, "", "нет строки «Vostrel parameters, format 1»"},
        {"not a parameter file", Join(With(1, "[settings]")), 1, "", "первой строкой"},
        {"a newer format", Join(With(1, "Vostrel parameters, format 2")), 1, "", "формата 2"},
        {"no colon", Join(With(8, "ЗПЧ1 мощность 5 Вт")), 8, "", "ожидается «поле: значение»"},
        {"unknown field", Join(With(8, "ЗПЧ3 мощность: 5 Вт")), 8, "ЗПЧ3 мощность", "неизвестное поле"},
        {"twice", Join(twice), 20, "ЗПЧ1 приём", "уже задано в строке 6"},
        {"missing", Join(missing), 0, "ЗПЧ2 приём", "нет в файле"},
        {"not UTF-8", Join(With(3, "Примечание: \xC2")), 3, "", "UTF-8"},
        {"no number", Join(With(6, "ЗПЧ1 приём: много кГц")), 6, "ЗПЧ1 приём", "не число"},
        {"megahertz", Join(With(6, "ЗПЧ1 приём: 145,575 МГц")), 6, "ЗПЧ1 приём", "единица «МГц»"},
        {"above the edit's limit", Join(With(7, "ЗПЧ1 передача: 174000,5")), 7, "ЗПЧ1 передача", "вне пределов окна"},
        {"two decimals of a frequency", Join(With(11, "ЗПЧ2 передача: 160000,25")), 11, "ЗПЧ2 передача",
         "стало бы 160000,3"},
        {"three decimals", Join(With(16, "Пауза для RxD -> ПРД: 10,001 мс")), 16, "Пауза для RxD -> ПРД",
         "больше двух знаков"},
        {"badly grouped digits", Join(With(6, "ЗПЧ1 приём: 14 5575,0")), 6, "ЗПЧ1 приём", "не число"},
        {"a number too long to hold", Join(With(11, "ЗПЧ2 передача: 1" + std::string(5000, '0') + ",0 кГц")), 11,
         "ЗПЧ2 передача", "10000000000000000000… кГц вне пределов окна: от 140000,0 до 174000,0 кГц"},
        {"a huge pause", Join(With(16, "Пауза для RxD -> ПРД: 123456789012345678901234 мс")), 16,
         "Пауза для RxD -> ПРД", "123456789012345678901234 мс вне пределов: от 0 до 195,29 мс"},
        {"a huge negative count", Join(With(15, "Отдавать Xoff после: -1" + std::string(5000, '0'))), 15,
         "Отдавать Xoff после", "-10000000000000000000… байт вне пределов: от 0 до 255 байт"},
        {"an exponent", Join(With(16, "Пауза для RxD -> ПРД: 1e1 мс")), 16, "Пауза для RxD -> ПРД",
         "«1e1 мс» — не число"},
        {"two signs", Join(With(15, "Отдавать Xoff после: +-5")), 15, "Отдавать Xoff после", "«+-5» — не число"},
        {"a doubled minus", Join(With(15, "Отдавать Xoff после: --5")), 15, "Отдавать Xoff после", "«--5» — не число"},
        {"a frequency of three decimals", Join(With(10, "ЗПЧ2 приём: 150000,001 кГц")), 10, "ЗПЧ2 приём",
         "больше двух знаков"},
        {"larger than a parameter file", Join(kOwnFile) + "#" + std::string(kMaxParamFileBytes, 'x') + "\n", 0, "",
         "слишком велик"},
        {"Xoff above a byte", Join(With(15, "Отдавать Xoff после: 256 байт")), 15, "Отдавать Xoff после",
         "от 0 до 255"},
        {"a fraction of a byte", Join(With(19, "Размер кодир. пакета: 1,5")), 19, "Размер кодир. пакета", "целое"},
        {"a pause the block cannot carry", Join(With(16, "Пауза для RxD -> ПРД: 195,30")), 16, "Пауза для RxD -> ПРД",
         "до 195,29"},
        {"a power the window has no name for", Join(With(8, "ЗПЧ1 мощность: 15 Вт")), 8, "ЗПЧ1 мощность",
         "возможны: 25, 10, 5"},
        {"an unknown flow control", Join(With(14, "Управление потоком: DTR/DSR")), 14, "Управление потоком",
         "возможны: none, Xon/Xoff, RTS/CTS"},
        {"an unknown code", Join(With(18, "Помехостойкий код: РМК8")), 18, "Помехостойкий код", "РМК31, РМК7"},
        {"simplex on two frequencies", Join(With(7, "ЗПЧ1 передача: 145600,0 кГц")), 7, "ЗПЧ1 передача",
         "частота передачи равна частоте приёма"},
        {"a copy's field edited", editedCopy, lineOf(editedCopy, "ЗПЧ2 мощность"), "ЗПЧ2 мощность",
         "удалите строку «Блок»"},
        {"a copy's bytes cut short", cutShort, lineOf(copy, "Блок:"), "Блок", "здесь 33"},
        {"a copy's bytes garbled", copyWith("Блок: 00", "Блок: 0G"), lineOf(copy, "Блок:"), "Блок", "не байты"},
        {"an unknown kind of copy", copyWith("прочитано из станции", "найдено"), lineOf(copy, "Копия:"), "Копия",
         "отправлено в станцию"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TParamFile f;
        f.Note = "untouched";
        TParamFileError error;
        ASSERT_FALSE(ParseParamFile(row.text, f, error));
        EXPECT_EQ(f.Note, "untouched");
        EXPECT_EQ(error.Line, row.line);
        EXPECT_EQ(error.Field, row.field);
        EXPECT_NE(error.Text.find(row.says), std::string::npos) << error.Text;
    }

    EXPECT_EQ(DescribeParamFileError({7, "ЗПЧ1 приём", "нет значения"}), "Строка 7, поле «ЗПЧ1 приём»: нет значения");
    EXPECT_EQ(DescribeParamFileError({0, "ЗПЧ2 приём", "нет в файле"}), "Поле «ЗПЧ2 приём»: нет в файле");
    EXPECT_EQ(DescribeParamFileError({1, "", "это не файл"}), "Строка 1: это не файл");
}

TEST(ParamFile, ACopyKeepsWhatTheStationHeldAndSaysSo)
{
    TByteArray held = DefaultStationBlock();
    PutWord(held, 3, (100000 + 45000) / 12.5);
    held[12] = 0x6C;  // flow control 3, air speed 3
    const TParamFile copy = CopyOf(held);
    const std::string text = FormatParamFile(copy);
    EXPECT_NE(text.find("# В станции «ЗПЧ2 приём» 100000,0 кГц"), std::string::npos) << text;
    EXPECT_NE(text.find("# В станции «Управление потоком» с кодом 3"), std::string::npos);
    EXPECT_NE(text.find("# В станции «Скорость в эфире» с кодом 3"), std::string::npos);
    EXPECT_NE(text.find("Копия: прочитано из станции\nВремя: 2026-12-07 21:03:55\nПорт: COM1 (/dev/ttyUSB0)\n"
                        "Примечание:\n"),
              std::string::npos);

    // The operator's note goes in; the copy is still the copy.
    std::string noted = text;
    const std::string note = "Примечание:";
    noted.replace(noted.find(note), note.size(), "Примечание: Р-12, вышка 3");
    TParamFile back;
    TParamFileError error;
    ASSERT_TRUE(ParseParamFile(noted, back, error)) << DescribeParamFileError(error);
    EXPECT_EQ(back.Note, "Р-12, вышка 3");
    EXPECT_EQ(back.Raw, held);

    // Deleting the bytes makes the edited reading an operator's file.
    std::string edited = noted;
    const std::string power = "ЗПЧ1 мощность: 5 Вт";
    edited.replace(edited.find(power), power.size(), "ЗПЧ1 мощность: 10 Вт");
    edited.erase(edited.find("Блок:"));
    ASSERT_TRUE(ParseParamFile(edited, back, error)) << DescribeParamFileError(error);
    EXPECT_FALSE(back.Raw.has_value());
    EXPECT_EQ(back.Set.PowerCode[0], 2);

    // Header texts a line cannot carry lose their control characters.
    TParamFile odd = copy;
    odd.Note = "  line\none\ttwo  ";
    ASSERT_TRUE(ParseParamFile(FormatParamFile(odd), back, error));
    EXPECT_EQ(back.Note, "line one two");
}

TEST(ParamFile, EditorLimitsOfASetNameTheField)
{
    struct Row {
        const char* label;
        void (*change)(TParameterSet&);
        const char* field;
    };
    const Row rows[] = {
        {"power code 0", [](TParameterSet& s) { s.PowerCode[1] = 0; }, "ЗПЧ2 мощность"},
        {"flow control code 3", [](TParameterSet& s) { s.FlowCode = 3; }, "Управление потоком"},
        {"NaN frequency", [](TParameterSet& s) { s.RxFreq[0] = std::nanl(""); }, "ЗПЧ1 приём"},
        {"frequency of two decimals", [](TParameterSet& s) { s.TxFreq[1] = 160000.25L; }, "ЗПЧ2 передача"},
        {"pause of three decimals", [](TParameterSet& s) { s.RxPause = 0.745L; }, "Пауза для RxD -> ПРД"},
        {"Xoff of 255,5", [](TParameterSet& s) { s.XoffAfter = 255.5L; }, "Отдавать Xoff после"},
        {"simplex apart", [](TParameterSet& s) { s.TxFreq[0] = 145600.0L; }, "ЗПЧ1 передача"},
    };
    TParamFileError error;
    ASSERT_TRUE(CheckEditorLimits(WorkedSet(), error)) << DescribeParamFileError(error);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TParameterSet s = WorkedSet();
        row.change(s);
        ASSERT_FALSE(CheckEditorLimits(s, error));
        EXPECT_EQ(error.Line, 0);
        EXPECT_EQ(error.Field, row.field);
        EXPECT_FALSE(error.Text.empty());
    }
}

}  // namespace

}  // namespace vostrel
