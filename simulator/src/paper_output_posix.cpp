#include "fiscalsim/paper_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "append_file_posix.h"
#include "platform/files.h"

namespace fiscalsim {
namespace {

bool IsPage(const std::string &path) {
  constexpr std::string_view kPage = ".html";
  return path.size() > kPage.size() && path.compare(path.size() - kPage.size(), kPage.size(), kPage) == 0;
}

std::string Describe(const std::string &what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

std::unique_ptr<PaperOutput> PaperOutput::Open(const std::string &path, std::string *error) {
  if (IsPage(path)) {
    std::unique_ptr<PaperOutput> page(new PaperOutput(path, -1));
    if (!page->Add({}, error)) return nullptr;
    return page;
  }
  const int fd = OpenAppendFile(path, error);
  if (fd < 0) return nullptr;
  std::unique_ptr<PaperOutput> text(new PaperOutput(path, fd));
  if (!text->Append(std::string(kRollNotice) + '\n', error)) return nullptr;
  return text;
}

PaperOutput::~PaperOutput() {
  if (fd_ >= 0) ::close(fd_);
}

bool PaperOutput::Add(const std::vector<PrintedDocument> &documents, std::string *error) {
  if (fd_ < 0) return platform::WriteFileAtomically(path_, RollHtml(documents), error);
  return documents.empty() || Append(DocumentText(documents.back()), error);
}

bool PaperOutput::Append(const std::string &text, std::string *error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = Describe("cannot write " + path_, n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void AttachPaperRoll(SimulatorOptions &options, PaperRoll &roll) {
  options.beforeCommand = [before = options.beforeCommand, &roll](const DeviceModel &model, uint8_t cmd,
                                                                  std::string_view data) {
    if (before) before(model, cmd, data);
    roll.BeforeCommand(model, cmd, data);
  };
  options.afterCommand = [after = options.afterCommand, &roll](const DeviceModel &model, uint8_t cmd,
                                                               std::string_view data, const Answer &answer) {
    if (after) after(model, cmd, data, answer);
    roll.AfterCommand(model, cmd, data, answer);
  };
}

}  // namespace fiscalsim
