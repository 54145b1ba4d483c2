// The parts of the file helpers both systems share: a seekable stream over a C file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <streambuf>

namespace platform::detail {

class FileBuffer final : public std::streambuf {
 public:
  explicit FileBuffer(std::FILE *file) : file_(file) {}
  ~FileBuffer() override;
  FileBuffer(const FileBuffer &) = delete;
  FileBuffer &operator=(const FileBuffer &) = delete;

 protected:
  int_type underflow() override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode mode) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode mode) override;

 private:
  std::FILE *file_;
  char buffer_[4096];
};

// The system's 64-bit seek and tell.
int Seek(std::FILE *file, int64_t offset, int whence);
int64_t Tell(std::FILE *file);

// Takes ownership of `file`.
std::unique_ptr<std::istream> StreamOver(std::FILE *file);

}  // namespace platform::detail
