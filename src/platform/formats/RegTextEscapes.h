// Quoted names and strings of registry text files: Regedit files escape only
// "\\" and "\"", Wine files use C escapes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orbel::platform::regtext {

enum class Escapes { Regedit, Wine };

// Reads escaped text from `pos` up to the unescaped `terminator` and leaves
// `pos` after it. Regedit files escape only "\\" and "\""; any other
// backslash stays. false when the terminator is missing.
bool ReadEscaped(std::string_view text, std::size_t& pos, char terminator, Escapes escapes,
                 std::u16string& out);

}  // namespace orbel::platform::regtext
