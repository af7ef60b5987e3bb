#pragma once
// Text that came from the network, made safe to show: printable ASCII stays,
// a backslash is doubled and every other byte is written as \xHH, so an
// escape sequence or a control byte can never reach a terminal or a window.
#include <string>
#include <string_view>

std::string PrintableText(std::string_view bytes);
