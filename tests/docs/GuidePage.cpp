#include "GuidePage.h"

#include "FileText.h"

#include <charconv>
#include <initializer_list>
#include <set>

namespace vostrel::docs {

namespace {

// Every attribute named one of names, with its double-quoted value, in the
// page's order. The name follows a blank, so data-src or srcset do not count.
std::vector<TPageRef> Attributes(const std::string& html, std::initializer_list<std::string> names)
{
    std::vector<TPageRef> out;
    for (std::size_t i = 1; i < html.size(); ++i) {
        if (html[i - 1] != ' ' && html[i - 1] != '\n' && html[i - 1] != '\t')
            continue;
        for (const std::string& name : names) {
            const std::size_t start = i + name.size() + 2;
            if (html.compare(i, name.size(), name) != 0 || html.compare(i + name.size(), 2, "=\"") != 0)
                continue;
            const std::size_t end = html.find('"', start);
            if (end == std::string::npos)
                return out;
            out.push_back({name, html.substr(start, end - start)});
            i = end;
            break;
        }
    }
    return out;
}

// A file name as the page's reference spells it: cmark-gfm writes & as &amp;
// and escapes non-ASCII bytes and blanks as %XX.
std::string FileName(std::string value)
{
    for (std::size_t at = value.find("&amp;"); at != std::string::npos; at = value.find("&amp;", at + 1))
        value.replace(at, 5, "&");
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        unsigned byte = 0;
        const char* digits = value.data() + i + 1;
        if (value[i] == '%' && i + 2 < value.size() &&
            std::from_chars(digits, digits + 2, byte, 16).ptr == digits + 2) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<TPageRef> PageRefs(const std::string& html)
{
    return Attributes(html, {"href", "src"});
}

std::vector<std::string> PageFaults(const std::string& html, const std::function<bool(const std::string&)>& hasFile)
{
    std::vector<std::string> faults;
    // The guide's first line is its title.
    const std::size_t h1 = html.find("<h1>");
    const std::size_t h1End = h1 == std::string::npos ? h1 : html.find("</h1>", h1);
    if (h1End == std::string::npos || h1End == h1 + 4)
        faults.push_back("no title heading (<h1>)");
    std::set<std::string> ids;
    for (const TPageRef& id : Attributes(html, {"id"}))
        ids.insert(id.Value);
    for (const TPageRef& ref : PageRefs(html)) {
        const std::string& v = ref.Value;
        const std::string what = ref.Attribute + "=\"" + v + "\"";
        if (StartsWith(v, "http://") || StartsWith(v, "https://") ||
            (ref.Attribute == "href" && StartsWith(v, "mailto:")))
            continue;
        if (v.empty()) {
            faults.push_back(what + ": empty");
        } else if (v[0] == '#') {
            if (ids.count(v.substr(1)) == 0)
                faults.push_back(what + ": no such id in the page");
        } else {
            const std::string name = FileName(v.substr(0, v.find('#')));
            // Only the page's own folder is shipped: no other folder, no scheme.
            if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
                name.find(':') != std::string::npos || name == "." || name == "..")
                faults.push_back(what + ": not a file beside the page");
            else if (!hasFile(name))
                faults.push_back(what + ": no file " + name + " beside the page");
        }
    }
    return faults;
}

std::vector<std::string> PageFileFaults(const std::filesystem::path& page)
{
    if (!std::filesystem::is_regular_file(page))
        return {"no page " + page.string()};
    const std::filesystem::path folder = page.parent_path();
    return PageFaults(FileText(page), [&](const std::string& name) {
        return std::filesystem::is_regular_file(folder / std::filesystem::u8path(name));
    });
}

}  // namespace vostrel::docs
