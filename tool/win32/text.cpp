#include "win32/text.h"

#include <windows.h>

namespace tillwright::win32 {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int size = static_cast<int>(utf16.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring TemplateResourceName(std::string_view templateName) {
  std::wstring name;
  name.reserve(templateName.size());
  // Only ASCII letters change: rc upper-cases names that way, whatever the locale.
  for (const unsigned char c : templateName) name.push_back(static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  return name;
}

std::wstring OpenBoxFilter(std::string_view filter) {
  std::wstring parts = Widen(filter);
  while (!parts.empty() && parts.back() == L'|') parts.pop_back();
  for (wchar_t &c : parts) {
    if (c == L'|') c = L'\0';
  }
  parts.push_back(L'\0');
  parts.push_back(L'\0');
  return parts;
}

}  // namespace tillwright::win32
