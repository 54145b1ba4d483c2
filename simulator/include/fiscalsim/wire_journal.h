// A file of everything that crossed the line, for fiscal-sim --journal: one JSON object a line,
// appended.
//
//   {"time":"2026-12-09T17:01:02.345Z","dir":"in","bytes":"01 25 20 4A 05 30 30 3E 3F 03",
//    "seq":32,"cmd":74,"data":""}
//   {"time":"...","dir":"out","bytes":"16","control":"busy"}
//
// "bytes" is the hex dump the traces show, with the data of commands that carry a password
// masked as there; "seq", "cmd" and "data" come with frames whose layout is whole, "status"
// (hex) with replies. "data" is the frame's data as text, every byte below 0x20 or from 0x7F up
// written \u00XX, so that a line is valid JSON in UTF-8 whatever the device was sent; masked
// data is "[n bytes masked]".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace fiscalsim {

// The line for these bytes, without its newline.
std::string WireJournalLine(std::chrono::system_clock::time_point time, bool received, std::span<const uint8_t> bytes);

class WireJournal {
 public:
  // Opens `path` to append, creating it with mode 0600 (frames are a shop's business); a
  // symbolic link or anything but a regular file is refused. Nothing on failure, with the reason in *error.
  static std::unique_ptr<WireJournal> Open(const std::string &path, std::string *error);
  ~WireJournal();
  WireJournal(const WireJournal &) = delete;
  WireJournal &operator=(const WireJournal &) = delete;

  // Appends one line in one write, so that lines of other writers never cut into it. The first
  // write that fails is told on stderr; the device goes on either way. Thread-safe.
  void Record(bool received, std::span<const uint8_t> bytes);

 private:
  WireJournal(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  const int fd_;
  const std::string path_;
  std::atomic<bool> failed_{false};
};

}  // namespace fiscalsim
