#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "files_impl.h"
#include "platform/files.h"

namespace platform {
namespace detail {

int Seek(std::FILE *file, int64_t offset, int whence) { return ::_fseeki64(file, offset, whence); }
int64_t Tell(std::FILE *file) { return ::_ftelli64(file); }

}  // namespace detail

namespace {

std::filesystem::path Path(const std::string &utf8) { return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8(const std::filesystem::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string SystemText(DWORD error) {
  char *text = nullptr;
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string result = n != 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(error);
  if (text != nullptr) ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) result.pop_back();
  return result;
}

}  // namespace

std::unique_ptr<std::istream> OpenRegularFile(const std::string &path, std::string *error) {
  // Names such as COM1 or \\.\pipe\x open devices and pipes: only a file on a disk is read.
  const HANDLE handle = ::CreateFileW(Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    *error = e == ERROR_ACCESS_DENIED && std::filesystem::is_directory(Path(path))
                 ? path + " is not a regular file"
                 : "cannot open " + path + ": " + SystemText(e);
    return nullptr;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    *error = path + " is not a regular file";
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    *error = "cannot open " + path;
    return nullptr;
  }
  std::FILE *file = ::_fdopen(fd, "rb");
  if (file == nullptr) {
    ::_close(fd);
    *error = "cannot open " + path;
    return nullptr;
  }
  return detail::StreamOver(file);
}

bool WriteFileAtomically(const std::string &path, std::string_view bytes, std::string *error) {
  const std::filesystem::path target = Path(path);
  std::filesystem::path temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  // CREATE_NEW never opens what is there, a link included; a name of its own for each writer.
  for (unsigned attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = target;
    temporary += L".part-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
    handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    *error = "cannot create " + Utf8(temporary) + ": " + SystemText(::GetLastError());
    return false;
  }
  const auto fail = [&](const std::string &what) {
    *error = what + ": " + SystemText(::GetLastError());
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    ::DeleteFileW(temporary.c_str());
    return false;
  };
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0)
      return fail("cannot write " + Utf8(temporary));
    bytes.remove_prefix(written);
  }
  if (!::FlushFileBuffers(handle)) return fail("cannot write " + Utf8(temporary) + " to the disk");
  ::CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return fail("cannot rename " + Utf8(temporary) + " to " + path);
  return true;
}

}  // namespace platform
