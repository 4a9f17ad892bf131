// vostrel-cli's own record (--log FILE): one CSV row per event, appended and
// on the disk before the next exchange, so a kill or a power cut loses at
// most the row being written. Plain C++ and the system's file calls only.
//
// The file is UTF-8; a new or empty file begins with a byte order mark, by
// which spreadsheet programs know the encoding, and the header row. Fields
// are separated by ';': a Russian-locale spreadsheet takes ';' as its list
// separator because ',' is its decimal point, so it opens the file in columns
// without asking, and the frequencies in the texts ("145575,0 кГц") never
// need quotes. Fields are quoted as RFC 4180 asks (separator, quote or line
// break inside; quotes doubled) and rows end in CR LF.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vostrel {

// What happened, as the record's column says it.
namespace RecordEvent {
inline constexpr const char* Read = "прочитано";
inline constexpr const char* Programmed = "запрограммировано";
inline constexpr const char* Verified = "проверено";
inline constexpr const char* NotVerified = "проверка не пройдена";
inline constexpr const char* Refused = "ответ отклонён";
inline constexpr const char* PortFailed = "отказ порта";
inline constexpr const char* PortGone = "порт пропал";
inline constexpr const char* PortBack = "порт вернулся";
inline constexpr const char* Stopped = "остановлено";
inline constexpr const char* Summary = "итог";
}  // namespace RecordEvent

struct TRecordRow {
    std::string Port;
    std::string Device;  // the device the port's name reached
    int Station = 0;     // the station's number on this port, from 1; 0 leaves it empty
    const char* Event = "";
    std::string Details;              // changes, differences, a reason, the summary's counts
    std::vector<std::string> Copies;  // the copies' file names
    std::string Note;                 // the parameter file's note
};

// One field as the record writes it: quoted when it holds the separator, a
// quote or a line break, its quotes doubled.
std::string CsvField(const std::string& text);
// The fields joined by the separator, CR LF at the end.
std::string CsvRow(const std::vector<std::string>& fields);
// The header row, the columns' names.
std::string RecordHeader();

class TRecord {
public:
    // tell says a failure to write the record, once per record.
    explicit TRecord(std::function<void(const std::string&)> tell);
    ~TRecord();
    TRecord(const TRecord&) = delete;
    TRecord& operator=(const TRecord&) = delete;

    // Opens path (UTF-8) for appending, creating it; a new or empty file gets
    // the byte order mark and the header, a row a kill cut short is ended
    // first. False with Failure() when it cannot be opened or written; tell
    // is not called then, the caller refuses to start.
    bool Open(const std::string& path);
    // Appends the row with the present local time, written through to the
    // disk before it returns; rows from several threads never mix. Never
    // throws. False when the row was not written: the first time tell says
    // why, and every row after that is refused too (a half row may stand at
    // the end).
    bool Append(const TRecordRow& row) noexcept;
    bool Failed() const;
    const std::string& Failure() const { return m_failure; }

private:
    bool Write(const std::string& text);

    std::function<void(const std::string&)> m_tell;
    mutable std::mutex m_mutex;
    std::string m_path;
    int m_fd = -1;
    bool m_failed = false;
    std::string m_failure;
};

}  // namespace vostrel
