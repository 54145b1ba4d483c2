#include "files_impl.h"

#include <cstdio>

namespace platform::detail {

FileBuffer::~FileBuffer() {
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): the buffer owns the FILE it was given
  if (file_ != nullptr) std::fclose(file_);
}

FileBuffer::int_type FileBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const size_t n = std::fread(buffer_, 1, sizeof buffer_, file_);
  if (n == 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + n);
  return traits_type::to_int_type(buffer_[0]);
}

FileBuffer::pos_type FileBuffer::seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) {
  // What is buffered but not yet taken lies ahead of the file's own position.
  if (dir == std::ios_base::cur) offset -= egptr() - gptr();
  const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  setg(buffer_, buffer_, buffer_);
  if (Seek(file_, offset, whence) != 0) return pos_type(off_type(-1));
  return pos_type(Tell(file_));
}

FileBuffer::pos_type FileBuffer::seekpos(pos_type position, std::ios_base::openmode mode) {
  return seekoff(off_type(position), std::ios_base::beg, mode);
}

std::unique_ptr<std::istream> StreamOver(std::FILE *file) {
  struct Stream : std::istream {
    explicit Stream(std::FILE *f) : std::istream(nullptr), buffer(f) { rdbuf(&buffer); }
    FileBuffer buffer;
  };
  return std::make_unique<Stream>(file);
}

}  // namespace platform::detail
