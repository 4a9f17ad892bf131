// The parameter file: the one text format for the copies the program keeps of
// every station and for the operator's own parameter files, and the model of
// what the window's editors make of a block and of a parameter set.
//
// The format (UTF-8, one item per line; CR LF accepted, a leading BOM too):
//
//   Vostrel parameters, format 1
//   # Lines starting with # and blank lines are not read.
//   Копия: прочитано из станции        (copies only: or "отправлено в станцию")
//   Время: 2026-12-07 21:03:55         (copies: local date and time)
//   Порт: COM1 (/dev/ttyUSB0)          (copies: the name picked, the device reached)
//   Примечание:                        (the operator's own note, may stay empty)
//   Шаг сетки частот: 25,0 кГц
//   ЗПЧ1 режим: симплекс               (or "разнесённый приём")
//   ЗПЧ1 приём: 145575,0 кГц
//   ЗПЧ1 передача: 145575,0 кГц
//   ЗПЧ1 мощность: 5 Вт
//   ЗПЧ2 режим / приём / передача / мощность: likewise
//   Скорость COM-порта: 9600 бит/с
//   Управление потоком: none           (or "Xon/Xoff", "RTS/CTS")
//   Отдавать Xoff после: 100 байт
//   Пауза для RxD -> ПРД: 10,00 мс
//   Скорость в эфире: 2400 бит/с
//   Помехостойкий код: РМК7            (or "РМК31")
//   Размер кодир. пакета: 24 байт
//   Блок: 00 F3 C1 ... (34 bytes in hex; copies only)
//
// Field names are the window's captions with the channel in front; they are
// matched ignoring case, runs of blanks, "ё" against "е" and the dash in "->".
// Values are written as the window shows them (a decimal comma, no digit
// groups); read, a point does as well as the comma, digit groups may be
// separated by blanks (the no-break ones too, also before the unit) and the
// unit may be left out, but a unit given must be the field's own. A number is
// read whole or not at all: no exponent, one sign. Every value field must be
// there, once.
//
// Values are taken only as the editors would hold them, never clamped: a
// frequency from 140000,0 to 174000,0 kHz with one decimal, the pause from 0
// to 195,29 ms with two, the byte counts whole from 0 to 255 (what the block
// carries), codes by the names the window shows. A frequency off the grid is
// accepted; programming rounds it as the window does.
//
// Copies: the line "Блок" is the copy itself, the 34 bytes as read or sent;
// the value fields are its reading, what the window showed. A restore sends
// the bytes. A file whose fields disagree with its bytes is refused at the
// first field that differs: to program edited values from a copy, delete its
// "Блок" line, which makes it an ordinary parameter file (the header lines
// may stay).
#pragma once

#include "LinkIo.h"
#include "ParamBlock.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

struct TParamFile {
    std::string Kind;   // "" for an operator's own file; "read" or "sent" for a copy
    std::string When;   // local date and time of a copy, e.g. "2026-12-07 21:03:55"; "" otherwise
    std::string Port;   // port of a copy as the operator named it, e.g. "COM1" (with the device it reached, if any)
    std::string Note;   // the operator's own note (which station); may be empty
    TParameterSet Set;  // the named fields
    std::optional<TByteArray> Raw;  // copies: the 34 bytes exactly as read or sent

    bool operator==(const TParamFile&) const = default;
};

// Line 0 when the error belongs to no line (a field missing, a set checked
// by itself); Field empty when it belongs to no field. Text is Russian.
struct TParamFileError {
    int Line = 0;
    std::string Field;
    std::string Text;
};

// The file as UTF-8 text. Header texts lose control characters and outer
// blanks, which a line cannot carry. A copy whose station held values the
// window does not show as they are gets a comment line saying what it held.
std::string FormatParamFile(const TParamFile& file);

// A parameter file is a few hundred bytes: a file larger than this was picked
// by mistake. The window and vostrel-cli read no more than this and one byte.
inline constexpr std::size_t kMaxParamFileBytes = 64 * 1024;

// Reads text into out (left untouched on failure). Stops at the first error
// and names its line and field: text over kMaxParamFileBytes, the lines' own
// errors in line order, then a field missing, a "симплекс" channel on two
// frequencies, and last a copy's field that disagrees with its bytes.
bool ParseParamFile(std::string_view text, TParamFile& out, TParamFileError& error);

// "Строка 7, поле «ЗПЧ1 приём»: ..." (or without the parts that are 0 or empty).
std::string DescribeParamFileError(const TParamFileError& error);

// What the window's editors hold after showing a block decoded with `previous`
// as the editors' earlier values: frequencies brought into the edits' limits
// and read back from their one-decimal display, the pause from its two-decimal
// one, the duplex toggles as decoded. A block shorter than 18 bytes is never
// shown: the result is previous.
TParameterSet ShownSet(const TByteArray& block, const TParameterSet& previous);

// What "Программирование" sends after the editors were shown `shown`: each
// frequency rounded to the grid and written back in the order the window does
// it (a simplex channel's receive edit carrying its transmit edit along).
TParameterSet ProgrammedSet(const TParameterSet& shown);
// ProgrammedSet encoded with its calibration bytes, whose eight
// "p1_calculate=" lines go to log.
TByteArray ProgrammingBlock(const TParameterSet& shown, ILogSink& log);

// The editors' limits, grid and codes: false with the field named when a value
// would be refused or changed by showing it; also a "симплекс" channel whose
// two frequencies differ, which the window never holds.
bool CheckEditorLimits(const TParameterSet& set, TParamFileError& error);

// One field as the window shows it, in the window's order: the file's name,
// the value and its unit ("" for codes without one).
struct TFieldText {
    std::string Name;
    std::string Value;
    std::string Unit;

    bool operator==(const TFieldText&) const = default;
};
std::vector<TFieldText> DescribeSet(const TParameterSet& set);

}  // namespace vostrel
