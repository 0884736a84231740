// Text from registries and images as the plain text output shows it on a
// terminal: control characters escaped, so that no value moves the cursor,
// rewrites the screen or splits a line into fields. JSON and CSV carry the
// text exactly and do not use this.
#pragma once

#include <string>
#include <string_view>

namespace orbel {

// `text` with each C0 control (tab and line end included) and DEL written as
// \xHH, each C1 control (U+0080 to U+009F) as \u00HH and each byte that is
// not part of valid UTF-8 as \xHH. A backslash stays as it is.
std::string TerminalText(std::string_view text);

}  // namespace orbel
