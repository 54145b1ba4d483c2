// The simulator's append-only outputs (the paper roll's text, the line's journal): files a
// person names, opened so that nothing planted under the name can redirect or stall them.
#pragma once

#include <string>

namespace fiscalsim {

// A descriptor open for appending to the regular file `path`, created with mode 0600 when
// missing; -1 with the reason in *error for a symbolic link, a FIFO, a folder or a failed open.
// A FIFO without a reader is refused at once instead of blocking the start.
int OpenAppendFile(const std::string &path, std::string *error);

}  // namespace fiscalsim
