#include "NumberPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quill {

std::string FormatNumberPicture(double value, std::string_view picture) {
    if (!std::isfinite(value)) {
        value = 0;
    }
    const auto point = picture.find('.');
    const std::string_view intPicture = picture.substr(0, point);
    const std::string_view fracPicture =
        point == std::string_view::npos ? std::string_view{} : picture.substr(point + 1);
    const int decimals = static_cast<int>(std::count(fracPicture.begin(), fracPicture.end(), '#'));

    // Halves round away from zero, as the platform's number formatting does.
    const long double scaled =
        std::roundl(std::fabs(static_cast<long double>(value)) * std::pow(10.0L, decimals));
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.0Lf", scaled);
    std::string digits(buffer);
    if (digits.size() <= static_cast<std::size_t>(decimals)) {
        digits.insert(0, static_cast<std::size_t>(decimals) - digits.size() + 1, '0');
    }
    std::string fraction = digits.substr(digits.size() - static_cast<std::size_t>(decimals));
    digits.resize(digits.size() - static_cast<std::size_t>(decimals));
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    const bool negative =
        value < 0 && (digits.find_first_not_of('0') != std::string::npos || !fraction.empty());

    // Fill the integer picture from the right; a literal is shown only when
    // a digit stands to its left.
    std::string out;
    auto digit = digits.rbegin();
    for (auto p = intPicture.rbegin(); p != intPicture.rend() && digit != digits.rend(); ++p) {
        if (*p == '#') {
            out.push_back(*digit++);
        } else {
            out.push_back(*p);
        }
    }
    while (digit != digits.rend()) {
        out.push_back(*digit++);
    }
    std::reverse(out.begin(), out.end());
    if (negative) {
        out.insert(out.begin(), '-');
    }
    if (!fraction.empty()) {
        out += '.';
        out += fraction;
    }
    return out;
}

}  // namespace quill
