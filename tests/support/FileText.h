// What the tests read back of files the programs wrote.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vostrel {

// The whole file as it lies on disk; "" when it cannot be read.
inline std::string FileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A record's rows after its header, each row's fields as a spreadsheet reads
// them (RFC 4180, ';', CR LF). A last row without its CR LF is left out and
// sets cut.
inline std::vector<std::vector<std::string>> CsvRows(const std::string& text, bool& cut)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row{""};
    bool quoted = false;
    for (std::size_t k = text.find('\n') + 1; k != 0 && k < text.size(); ++k) {
        const char c = text[k];
        if (c == '"' && quoted && text.compare(k, 2, "\"\"") == 0)
            row.back() += text[++k];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ';')
            row.emplace_back();
        else if (!quoted && text.compare(k, 2, "\r\n") == 0)
            rows.push_back(std::exchange(row, {""})), ++k;
        else
            row.back() += c;
    }
    cut = row != std::vector<std::string>{""};
    return rows;
}

}  // namespace vostrel
