// Named resources of a module, found by reading its resource directory.
//
// Resource compilers sort named entries in upper-case order, which is how Windows searches them;
// wine searches them in lower-case order, so there a name with "_" where a neighbour has a letter
// is not found (FISCAL_CHECK beside FISCALIZATION). Reading the directory finds every name on
// both.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <string_view>

namespace tillwright::win32 {

// The resource of that type (one of the system's, such as RT_DIALOG) and name, compared without
// regard to case, in its first language; empty when the module has none.
std::span<const std::byte> NamedResource(HMODULE module, LPCWSTR type, std::wstring_view name);

}  // namespace tillwright::win32
