// Readers for raw clipboard blocks that never look past the block's end, whatever it claims.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "win/text_block.h"

namespace clip {

// The part of a text before its first NUL, or the whole text when it holds none.
std::wstring_view TrimAtNull(std::wstring_view text);

// UTF-16 text up to its first NUL, or up to the end of the block when it has none.
win::TextBlock TextFromBlock(const void* block, size_t bytes);

// The file names of a file-drop block (a 20-byte header whose first field is the offset of the
// names, and whose last is non-zero for UTF-16 names; then NUL-terminated names, ending with an
// empty one). Returns nothing when the header does not fit or points outside the block; a last
// name that runs into the end of the block is left out.
std::optional<std::vector<std::wstring>> FileNamesFromDropBlock(const void* block, size_t bytes,
                                                                unsigned ansiCodePage);

// One path per line, each (the last one included) followed by CR LF.
std::wstring JoinPathLines(const std::vector<std::wstring>& names);

}  // namespace clip
