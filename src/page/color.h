// Colour values as the hidden-text filter compares them.
#pragma once

#include <cstdint>
#include <string_view>

namespace gm {

// 0xRRGGBB of a colour value: "#rgb" (each digit times 17), "#rrggbb", any other "#..." gives 0,
// a name of the engine's 143-name keyword table (letter case ignored), and anything else
// (for example "transparent") gives 0xFFFFFF.
uint32_t ParseColor(std::wstring_view value);

// Number of names in the keyword table.
size_t ColorNameCount();

}  // namespace gm
