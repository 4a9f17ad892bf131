#include "DecimalDigits.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vostrel {

std::string RoundedDigits(long double v, int decimals)
{
    char buf[64] = {};
    // "d.ddddddddddddddddde[+-]XX": 18 significant digits, free of the C locale.
    std::to_chars(buf, buf + sizeof buf - 1, std::fabs(v), std::chars_format::scientific, 17);
    std::string mant;
    const char* p = buf;
    for (; *p != 'e' && *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9')
            mant.push_back(*p);
    }
    const int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;
    const int pointPos = exp10 + 1;  // digits of mant before the decimal point
    const int keep = pointPos + decimals;

    std::string d;
    bool up = false;
    if (mant.find_first_not_of('0') == std::string::npos) {
        d = "0";
    } else if (keep < 0) {
        d = "0";
    } else {
        while (static_cast<int>(mant.size()) < keep)
            mant.push_back('0');
        up = keep < static_cast<int>(mant.size()) && mant[static_cast<std::size_t>(keep)] >= '5';
        d = mant.substr(0, static_cast<std::size_t>(keep));
        if (d.empty())
            d = "0";
    }
    if (up) {
        int i = static_cast<int>(d.size()) - 1;
        for (; i >= 0; --i) {
            char& c = d[static_cast<std::size_t>(i)];
            if (c == '9') {
                c = '0';
            } else {
                ++c;
                break;
            }
        }
        if (i < 0)
            d.insert(d.begin(), '1');
    }
    while (static_cast<int>(d.size()) < decimals + 1)
        d.insert(d.begin(), '0');
    return d;
}

}  // namespace vostrel
