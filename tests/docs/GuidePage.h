// The operator's guide as built into a web page: every link and picture in it
// must reach something the operator has, with no network and no source tree.
// A reference passes when it is an http:, https: or mailto: address, a
// "#id" that some id="…" of the page holds, or the name of a file in the
// page's own folder (percent-escapes and &amp; undone; a "#part" after it
// ignored). Pictures in the folder that the page never uses are no fault.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vostrel::docs {

struct TPageRef {
    std::string Attribute;  // "href" or "src"
    std::string Value;      // as written in the page
};

// Every href="…" and src="…" of the page, in order.
std::vector<TPageRef> PageRefs(const std::string& html);

// What is wrong with the page, one line each; empty when nothing is. hasFile
// says whether a file of that name lies beside the page.
std::vector<std::string> PageFaults(const std::string& html, const std::function<bool(const std::string&)>& hasFile);

// The faults of the page file, looking beside it.
std::vector<std::string> PageFileFaults(const std::filesystem::path& page);

}  // namespace vostrel::docs
