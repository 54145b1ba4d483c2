#include "programming/load_logo.h"

#include <vector>

#include "core/command_codes.h"
#include "dialogs/data_exchange.h"
#include "settings/settings.h"

namespace tillwright {
namespace {

constexpr const char *kCannotOpen = "Can't open file %s!!!";
constexpr const char *kInvalidFormat = "Invalid file format!!!\nHave to use monochrome bitmap file WITHOUT compression";

std::string Dots(size_t width, size_t height) { return std::to_string(width) + " x " + std::to_string(height) + " dots"; }

// The preview's line: the size the device receives, and why it is smaller than the picture.
std::string PlanNote(const LogoBitmap &bitmap, const LogoPlan &plan) {
  std::string note = "Sent: " + Dots(static_cast<size_t>(plan.dots), plan.rows);
  if (plan.croppedByFrame) {
    note += ", cropped to the widest row one request carries";
  } else if (plan.croppedByDevice) {
    note += ", cropped from " + std::to_string(bitmap.Width()) + " x " + std::to_string(bitmap.Height()) +
            " to the device's largest logo";
  }
  return note + ".";
}

// Ends the progress window on every way out of the transfer.
class Progress {
 public:
  Progress(ui::IPrompter &prompter, size_t rows) : prompter_(prompter) {
    prompter_.BeginProgress("Sending the logo", static_cast<int>(rows), true);
  }
  ~Progress() { prompter_.EndProgress(); }
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

 private:
  ui::IPrompter &prompter_;
};

}  // namespace

CLoadLogo::CLoadLogo(ILink &link, LogoLimits &limits) : Dialog("load_logo"), link_(link), limits_(limits) {
  Uses({kFileField, kPreview, kNote, ui::kIdOk, ui::kIdCancel});
  On(kBrowseButton, ui::Event::Clicked, [this] { OnBrowse(); });
  On(kPrintDisable, ui::Event::Clicked, [this] { OnPrintSwitch(false); });
  On(kPrintEnable, ui::Event::Clicked, [this] { OnPrintSwitch(true); });
  On(kDisableBox, ui::Event::Clicked, [this] { OnDisableBox(); });
}

void CLoadLogo::DoDataExchange(ui::DataExchange &dx) {
  dx.Text(kFileField, fileName_);
  dx.Check(kDisableBox, disableBox_);
}

void CLoadLogo::OnPrintSwitch(bool enable) {
  UpdateData(true);
  std::string request = enable ? cmd::kLogoOn : cmd::kLogoOff;
  std::string reply;
  link_.SendCommand(reply, request, cmd::kTextLine);
}

void CLoadLogo::OnDisableBox() {
  UpdateData(true);
  std::string request = disableBox_ ? cmd::kLogoOff : cmd::kLogoOn;
  std::string reply;
  link_.SendCommand(reply, request, cmd::kTextLine);
}

void CLoadLogo::OnBrowse() {
  const auto chosen = Prompter().OpenFile("Open", kFilter);
  if (chosen) ChooseFile(*chosen);
}

void CLoadLogo::ChooseFile(const std::string &path) {
  fileName_ = path;
  UpdateData(false);
  ShowPreview();
}

std::unique_ptr<LogoBitmap> CLoadLogo::OpenFile() {
  LogoBitmap::Error error = LogoBitmap::Error::None;
  auto bitmap = LogoBitmap::Open(fileName_, &error);
  if (bitmap) return bitmap;
  if (error == LogoBitmap::Error::CannotOpen) {
    std::string text = kCannotOpen;
    text.replace(text.find("%s"), 2, fileName_);
    Prompter().Inform(text, {}, ui::Icon::Warning);
  } else {
    Prompter().Inform(kInvalidFormat, {}, ui::Icon::Warning);
  }
  return nullptr;
}

bool CLoadLogo::AskLimits() {
  std::string reply;
  std::string request;
  if (link_.SendCommand(reply, request, cmd::kLogoLimits) != 0) return false;
  ReadLogoLimits(reply, limits_);
  return true;
}

// Shown without message boxes: the file's faults are told when OK tries to send it. The limits
// are asked only when the device has not given them in this run yet.
void CLoadLogo::ShowPreview() {
  View().SetImage(kPreview, 0, 0, {});
  LogoBitmap::Error error = LogoBitmap::Error::None;
  auto bitmap = LogoBitmap::Open(fileName_, &error);
  if (!bitmap) {
    View().SetText(kNote, error == LogoBitmap::Error::CannotOpen
                              ? "The file cannot be opened."
                              : "Not a monochrome bitmap without compression.");
    return;
  }
  if (limits_.maxRowBytes == 0 || limits_.maxRows == 0) {
    ui::WaitCursor wait(Prompter());
    AskLimits();
  }
  if (limits_.maxRowBytes == 0 || limits_.maxRows == 0) {
    View().SetText(kNote, "The device's largest logo is not known.");
    return;
  }
  const LogoPlan plan = bitmap->PlanFor(limits_);
  std::vector<uint8_t> image;
  image.reserve(plan.rows * plan.rowBytes);
  std::vector<uint8_t> row;
  for (size_t r = 0; r < plan.rows; ++r) {
    if (!bitmap->ReadRow(r, plan.rowBytes, row)) {
      View().SetText(kNote, "The file cannot be read.");
      return;
    }
    image.insert(image.end(), row.begin(), row.end());
  }
  View().SetImage(kPreview, plan.dots, static_cast<int>(plan.rows), image);
  View().SetText(kNote, PlanNote(*bitmap, plan));
}

CLoadLogo::Outcome CLoadLogo::Transfer() {
  auto bitmap = OpenFile();
  if (!bitmap) return Outcome::Failed;
  if (!AskLimits()) return Outcome::Failed;
  const LogoPlan plan = bitmap->PlanFor(limits_);
  // A device that gives no rows or no room in a row takes no logo: nothing is sent.
  if (plan.rows == 0 || plan.rowBytes == 0) {
    View().SetText(kNote, "The device takes no logo of this size.");
    return Outcome::Failed;
  }
  Progress progress(Prompter(), plan.rows);
  std::vector<uint8_t> row;
  for (size_t r = 0; r < plan.rows; ++r) {
    // Between rows only: a row once sent stays in the device.
    if (Prompter().Stopped()) {
      View().SetText(kNote, "Stopped after " + std::to_string(r) + " of " + std::to_string(plan.rows) +
                                " rows; the rows sent stay in the device.");
      return Outcome::Stopped;
    }
    if (!bitmap->ReadRow(r, plan.rowBytes, row)) {
      std::string text = kCannotOpen;
      text.replace(text.find("%s"), 2, fileName_);
      Prompter().Inform(text, {}, ui::Icon::Warning);
      return Outcome::Failed;
    }
    std::string request = LogoRowData(r, row);
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kLogoRow) != 0) return Outcome::Failed;
    Prompter().SetProgress(static_cast<int>(r + 1),
                           "Row " + std::to_string(r + 1) + " of " + std::to_string(plan.rows));
  }
  return Outcome::Sent;
}

void CLoadLogo::OnOK() {
  if (!UpdateData(true)) return;
  if (fileName_.empty()) {
    EndDialog(ui::kResultCancel);
    return;
  }
  link_.ClearLastStatus();
  ui::WaitCursor wait(Prompter());
  const Outcome outcome = Transfer();
  wait.Restore();
  if (outcome != Outcome::Sent) return;
  UpdateData(false);
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
