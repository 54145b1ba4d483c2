// Reads and rewrites the eight header lines and the two advertisement lines. Only lines that
// differ from what the device holds are written.
#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "core/link.h"
#include "core/prompter.h"

namespace Ui {
class CSetheaderFooter;
}

class QLineEdit;

namespace tillwright {

class CSetheaderFooter : public QDialog {
  Q_OBJECT

 public:
  static constexpr size_t kLines = 10;
  static constexpr size_t kHeaderLines = 8;  // lines 0..7; then the advertisement lines 8 and 9
  // Device line n lives in slot kSlotOfLine[n]; the advertisement lines 8 and 9 in slots 5 and 6.
  static constexpr std::array<size_t, kLines> kSlotOfLine = {0, 1, 2, 3, 4, 7, 8, 9, 5, 6};
  // The slots the "unfixed" box locks: the first four.
  static constexpr size_t kUnfixedSlots = 4;

  // Reads lines 0..9 at once, stopping at the first failure.
  CSetheaderFooter(ILink &link, IPrompter &prompter, QWidget *parent = nullptr);
  ~CSetheaderFooter() override;

  void OnOK();
  Ui::CSetheaderFooter &Widgets() { return *ui_; }
  // The edit field of a slot.
  QLineEdit *SlotField(size_t slot) const;

 private:
  void Save();
  void Load();
  void ApplyReadOnly(bool advertisementBox);

  std::unique_ptr<Ui::CSetheaderFooter> ui_;
  ILink &link_;
  IPrompter &prompter_;
  std::array<std::string, kLines> current_;  // by slot, device bytes
  std::array<std::string, kLines> device_;   // by slot: last read from or written to the device
  bool advertisementOnly_ = false;
  bool unfixedOnly_ = false;
};

}  // namespace tillwright
