// The device's paper: every document its printer puts out, laid out line by line.
//
// The roll is told each command the model executed (SimulatorOptions::beforeCommand and
// afterCommand) and lays out what that command prints. A receipt's running state is reset when
// it closes, so the roll keeps what it needs from each command as it goes. A refused command
// prints nothing.
//
//   PaperRoll roll;
//   options.beforeCommand = [&](auto &m, uint8_t c, auto d) { roll.BeforeCommand(m, c, d); };
//   options.afterCommand = [&](auto &m, uint8_t c, auto d, auto &a) { roll.AfterCommand(m, c, d, a); };
//
// Not thread-safe: the serving thread alone calls it while the simulator runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fiscalsim/device_model.h"

namespace fiscalsim {

// Characters on one printed line. A header line may hold kHeaderLineMax characters and the
// device prints each on a line of its own, so the paper is exactly that wide.
inline constexpr size_t kPaperWidth = kHeaderLineMax;

// Said at the top of every roll the simulator writes.
inline constexpr char kRollNotice[] = "Printed by fiscal-sim: the layout is the simulator's own, not any device's.";

struct PrintedDocument {
  std::string logoPng;             // the logo printed above the lines, as PNG bytes; empty for none
  std::vector<std::string> lines;  // UTF-8, at most kPaperWidth characters each
  bool cut = false;                // the paper is cut after it: what follows starts a new strip
};

class PaperRoll {
 public:
  using Listener = std::function<void(const std::vector<PrintedDocument> &documents)>;

  // `finished` is called each time a document is finished, with every document so far (the new
  // one last), on the caller's thread.
  explicit PaperRoll(Listener finished = {});

  void BeforeCommand(const DeviceModel &model, uint8_t cmd, std::string_view data);
  void AfterCommand(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer);

  // Every finished document, oldest first. A receipt still open is not among them.
  const std::vector<PrintedDocument> &Documents() const { return documents_; }

 private:
  // The state a command may change or reset, as it was before the command ran.
  struct Before {
    Receipt receipt;
    std::map<char, int64_t> dayByGroup;
    int64_t dayTotalCents = 0;
    int64_t cashInCents = 0;
    int64_t cashOutCents = 0;
    uint32_t fiscalReceipts = 0;
    uint32_t zReports = 0;
  };
  // A receipt being printed, in the device's own code page until it is finished.
  struct Open {
    bool fiscal = false;
    std::string logoPng;
    std::vector<std::string> lines;
    bool totalPrinted = false;
  };

  void Print(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer);
  void PrintReceiptCommand(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer);
  // The receipt being printed; one the roll did not see open starts here.
  Open &Receipt(const DeviceModel &model, bool fiscal);
  // Converts the lines to UTF-8 and hands the document on.
  void Finish(const DeviceModel &model, std::string logoPng, const std::vector<std::string> &lines, bool cut);
  void FinishReceipt(const DeviceModel &model, const std::vector<std::string> &footer);

  Listener finished_;
  Before before_;
  std::optional<Open> open_;
  std::vector<std::string> lastReceipt_;  // device text, without its closing line: for copies
  std::vector<PrintedDocument> documents_;
};

// Device text (code page 1251) as UTF-8. Each byte from 0x80 prints as the glyph at the font
// position the code table gives it, and the font is laid out as code page 1251: a table that
// maps a code to a position below 0x80 prints that ASCII character. Control characters print
// as blanks.
std::string DeviceTextToUtf8(std::string_view text, const std::array<uint8_t, 128> &codeTable = DefaultCodeTable());

// One document as plain text: its lines, the logo as a marked line, and a cut as a line of
// scissors.
std::string DocumentText(const PrintedDocument &document);
// The notice line, then every document.
std::string RollText(const std::vector<PrintedDocument> &documents);
// The page shows this many of the newest documents: it is written whole after each one, and a
// long load test must not make every write longer than the one before.
inline constexpr size_t kPageDocuments = 1000;

// One self-contained page: the notice, and the documents as paper strips split at the cuts; how
// many older ones it leaves off, if any.
std::string RollHtml(const std::vector<PrintedDocument> &documents);

// The layout rules, on device text: one byte, one column.
namespace layout {
// Cut into lines of at most kPaperWidth, at the last blank before the edge where there is one.
std::vector<std::string> Wrap(std::string_view text);
// Wrapped, each line centred.
std::vector<std::string> Center(std::string_view text);
// `left` and `right` on one line, `right` against the right edge; on two when both do not fit.
std::vector<std::string> Columns(std::string_view left, std::string_view right);
std::string Rule();
}  // namespace layout

}  // namespace fiscalsim
