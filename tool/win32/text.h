// The Win32 host's boundary for texts: dialog logic speaks UTF-8, the wide API UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace tillwright::win32 {

// Invalid sequences become U+FFFD either way, so a stray byte never loses the rest of a text.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The resource name of a dialog's template: "set_header_footer" is SET_HEADER_FOOTER.
std::wstring TemplateResourceName(std::string_view templateName);

// A filter as dialog logic writes it, "Bitmap files (*.bmp)|*.bmp|All files|*.*", in the form
// the file-open box reads: pairs separated by NULs, the whole ended by two. A trailing "|" or
// "||" (the older way of ending such a filter) adds nothing.
std::wstring OpenBoxFilter(std::string_view filter);

}  // namespace tillwright::win32
