// Rules about device names as the Windows device tree spells them. Linux names carry none of
// this (udev gives the ids and whole sysfs paths), but drivers and tools that meet such names
// (a Windows build, names a user pastes) use these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vrn {

// The hexadecimal numbers after "vid_" and "pid_" (any case) of an interface name such as
// \\?\USB#VID_0483&PID_5740#...; false unless both are there.
bool ParseInterfaceIds(std::string_view name, int32_t &vendorId, int32_t &productId);

// A "PortName" value: upper-cased; "COM" with the digits that follow its first occurrence that
// has digits is the port name (isComPort true); without one the whole upper-cased value is.
// At most 63 characters are kept.
std::string PortNameFromValue(std::string_view value, bool &isComPort);

// Two interface paths name the same device when they agree, without regard to case, but for
// the last 38 characters of the given path (the interface-class identifier). Given paths
// shorter than 46 characters match nothing.
bool InterfacePathsMatch(std::string_view stored, std::string_view given);

}  // namespace vrn
