// Files named by a person or holding a device's settings.
//
// Reading: only a regular file is read. A FIFO, a device node or a folder given by mistake would
// block the program for ever or feed it endless bytes, so the open never waits and anything but
// a regular file is refused.
//
// Writing: the file appears whole or not at all, and nobody else can read it or redirect it on
// the way. The bytes go to a new file in the target's folder, created exclusively (a planted link
// is never followed) and readable by the owner only; it is flushed to the disk and renamed over
// the target. On every failure the new file is removed and the target is left as it was.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// `path` in UTF-8. Nothing, with the reason in *error ("... is not a regular file", "cannot open
// ...: <system text>"), when it cannot be read.
std::unique_ptr<std::istream> OpenRegularFile(const std::string &path, std::string *error);

// `path` in UTF-8. False with the reason in *error.
bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string *error);

}  // namespace platform
