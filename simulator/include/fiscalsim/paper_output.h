// Where fiscal-sim puts its paper: each finished document appended to a text file as it comes,
// or, for a name ending in .html, the whole roll as one page rewritten after each document.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fiscalsim/paper_roll.h"
#include "fiscalsim/simulator.h"

namespace fiscalsim {

class PaperOutput {
 public:
  // A text file is opened for appending (created with mode 0600; a link or anything but a regular
  // file is refused) and gets the notice line; a page is written at once, empty. Nothing, with
  // the reason in *error, when that fails.
  static std::unique_ptr<PaperOutput> Open(const std::string &path, std::string *error);
  ~PaperOutput();
  PaperOutput(const PaperOutput &) = delete;
  PaperOutput &operator=(const PaperOutput &) = delete;

  // After a document was finished: `documents` is the whole roll, the new one last. False with
  // the reason in *error; the next document is tried again.
  bool Add(const std::vector<PrintedDocument> &documents, std::string *error);

 private:
  PaperOutput(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  bool Append(const std::string &text, std::string *error);

  const std::string path_;
  const int fd_;  // the text file; -1 for a page
};

// Lets the roll see every command, after whatever the options' hooks already do.
void AttachPaperRoll(SimulatorOptions &options, PaperRoll &roll);

}  // namespace fiscalsim
