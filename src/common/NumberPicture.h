#pragma once

#include <string>
#include <string_view>

namespace quill {

// Writes value with a number picture such as "### ### ###.##", "### ###" or
// "#.##": '#' is a digit place, '.' the decimal point, other characters are
// shown literally between digits. The value is rounded to as many decimals as
// the picture has places after the point; trailing zeros of the fraction are
// dropped (with the point when nothing is left). Literal characters in front
// of the first digit are not shown, the integer part always shows at least
// one digit (0 gives "0", 0.5 gives "0.5"), and digits beyond the picture's
// places are written in front.
std::string FormatNumberPicture(double value, std::string_view picture);

}  // namespace quill
