#include "BlockTexts.h"

#include <QDateTime>

#include <algorithm>
#include <utility>

namespace vostrel {

std::string ToUtf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

std::string Now()
{
    return ToUtf8(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

std::size_t Utf8Length(const std::string& text)
{
    std::size_t n = 0;
    for (unsigned char c : text)
        n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

std::string HexLine(const TByteArray& bytes, std::size_t from, std::size_t count)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t k = from; k < from + count && k < bytes.size(); ++k) {
        if (!out.empty())
            out += ' ';
        out += kHex[bytes[k] >> 4];
        out += kHex[bytes[k] & 0x0F];
    }
    return out;
}

// "Name: before → after unit" for each field the window would show otherwise.
std::vector<std::string> ChangedFields(const TParameterSet& before, const TParameterSet& after)
{
    const std::vector<TFieldText> a = DescribeSet(before);
    const std::vector<TFieldText> b = DescribeSet(after);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
        if (a[k].Value == b[k].Value && a[k].Unit == b[k].Unit)
            continue;
        std::string line = a[k].Name + ": " + a[k].Value;
        if (a[k].Unit != b[k].Unit && !a[k].Unit.empty())
            line += " " + a[k].Unit;
        line += " → " + b[k].Value;
        if (!b[k].Unit.empty())
            line += " " + b[k].Unit;
        out.push_back(line);
    }
    return out;
}

std::vector<std::string> SentValues(const TParameterSet& set)
{
    const std::vector<TFieldText> given = DescribeSet(set);
    const std::vector<TFieldText> sent = DescribeSet(ProgrammedSet(set));
    std::vector<std::string> out(given.size());
    for (std::size_t k = 0; k < given.size() && k < sent.size(); ++k) {
        if (given[k] == sent[k])
            continue;
        out[k] = given[k].Value;
        if (given[k].Unit != sent[k].Unit && !given[k].Unit.empty())
            out[k] += " " + given[k].Unit;
        out[k] += " → будет отправлено " + sent[k].Value;
        if (!sent[k].Unit.empty())
            out[k] += " " + sent[k].Unit;
    }
    return out;
}

std::vector<std::string> SentOtherwise(const TParameterSet& set)
{
    const std::vector<TFieldText> given = DescribeSet(set);
    const std::vector<std::string> sent = SentValues(set);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < sent.size(); ++k) {
        if (!sent[k].empty())
            out.push_back(given[k].Name + ": " + sent[k]);
    }
    return out;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : separator) + p;
    return out;
}

// "k: AA → BB" for each byte from..to-1 that differs.
std::string ByteChanges(const TByteArray& a, const TByteArray& b, std::size_t from, std::size_t to)
{
    std::vector<std::string> bytes;
    for (std::size_t k = from; k < to && k < a.size() && k < b.size(); ++k) {
        if (a[k] != b[k])
            bytes.push_back(std::to_string(k) + ": " + HexLine(a, k, 1) + " → " + HexLine(b, k, 1));
    }
    return Joined(bytes, ", ");
}

// What a station read back holds otherwise than it was sent: the fields of
// bytes 0–17 as they decode (the bytes themselves where no field shows it),
// and the calibration bytes on their own.
std::vector<std::string> ReadBackDifferences(const TByteArray& sent, const TByteArray& back)
{
    TParameterSet a, b;
    DecodeBlock(sent, TParameterSet{}, a);
    DecodeBlock(back, TParameterSet{}, b);
    std::vector<std::string> out = ChangedFields(a, b);
    const std::string user = ByteChanges(sent, back, 0, kBlockUserBytes);
    if (out.empty() && !user.empty())
        out.push_back("байты 0–17: " + user);
    const std::string calibration = ByteChanges(sent, back, kBlockUserBytes, kBlockSize);
    if (!calibration.empty())
        out.push_back("калибровочные байты " + calibration);
    return out;
}

std::string ShowText(const TParamFile& file)
{
    std::vector<std::pair<std::string, std::string>> rows;
    if (file.Kind == "read")
        rows.emplace_back("Копия", "прочитано из станции");
    else if (file.Kind == "sent")
        rows.emplace_back("Копия", "отправлено в станцию");
    if (!file.When.empty())
        rows.emplace_back("Время", file.When);
    if (!file.Port.empty())
        rows.emplace_back("Порт", file.Port);
    if (!file.Note.empty())
        rows.emplace_back("Примечание", file.Note);
    // A copy's bytes are restored as they stand; only a plan is rounded.
    const std::vector<std::string> sent = file.Raw ? std::vector<std::string>() : SentValues(file.Set);
    const std::vector<TFieldText> fields = DescribeSet(file.Set);
    for (std::size_t k = 0; k < fields.size(); ++k) {
        const TFieldText& f = fields[k];
        rows.emplace_back(f.Name, k < sent.size() && !sent[k].empty() ? sent[k]
                                                                      : f.Value + (f.Unit.empty() ? "" : " " + f.Unit));
    }
    if (file.Raw) {
        rows.emplace_back("Байты 0–17", HexLine(*file.Raw, 0, kBlockUserBytes));
        rows.emplace_back("Байты 18–33", HexLine(*file.Raw, kBlockUserBytes, kBlockSize - kBlockUserBytes));
    }
    std::size_t width = 0;
    for (const auto& [name, value] : rows)
        width = std::max(width, Utf8Length(name));
    std::string out;
    for (const auto& [name, value] : rows)
        out += name + ":" + std::string(width - Utf8Length(name) + 2, ' ') + value + "\n";
    return out;
}

}  // namespace vostrel
