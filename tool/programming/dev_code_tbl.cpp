#include "programming/dev_code_tbl.h"

#include "core/command_codes.h"
#include "dialogs/data_exchange.h"

namespace tillwright {
namespace {

constexpr const char *kCodePages[] = {"WIN1251", "DOS"};
constexpr const char *kDownloadError = "Code table downloading error!!!";
constexpr unsigned kBlockCodes = 32;
constexpr unsigned kBlank = 0x20;

// The font position printed for `code` (0x80..0xFF). The Cyrillic glyphs sit at 0xC0..0xFF: code
// page 1251 has its letters there already, the DOS code page has them 0x40 lower. Codes without
// a letter print as blanks.
unsigned FontPosition(int codePage, unsigned code) {
  if (codePage == CDevCodeTbl::kDos) return code < 0xC0 ? code + 0x40 : kBlank;
  return code >= 0xC0 ? code : kBlank;
}

}  // namespace

std::array<std::string, 4> CDevCodeTbl::Blocks(int codePage) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::array<std::string, 4> blocks;
  for (unsigned block = 0; block < blocks.size(); ++block) {
    const unsigned first = 0x80 + block * kBlockCodes;
    std::string &data = blocks[block];
    data = {kHex[first >> 4], kHex[first & 0xF], ','};
    for (unsigned code = first; code < first + kBlockCodes; ++code) {
      const unsigned position = FontPosition(codePage, code);
      data += kHex[position >> 4];
      data += kHex[position & 0xF];
    }
  }
  return blocks;
}

CDevCodeTbl::CDevCodeTbl(ILink &link) : Dialog("dev_code_tbl"), link_(link) {
  Uses({kCodePageCombo, ui::kIdOk, ui::kIdCancel});
}

void CDevCodeTbl::OnInitDialog() {
  View().SetItems(kCodePageCombo, {kCodePages[0], kCodePages[1]});
  Dialog::OnInitDialog();
}

void CDevCodeTbl::DoDataExchange(ui::DataExchange &dx) { dx.Selection(kCodePageCombo, codePage_); }

void CDevCodeTbl::OnOK() {
  if (!UpdateData(true)) return;
  // Nothing chosen: there is no table to send, and a half-known one is worse than none.
  if (codePage_ != kWin1251 && codePage_ != kDos) return;
  ui::WaitCursor wait(Prompter());
  for (const std::string &block : Blocks(codePage_)) {
    std::string request = block;
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kCodeTable) != 0) {
      // The blocks sent before stay in the device; sending the table again repairs it.
      wait.Restore();
      Prompter().Inform(kDownloadError);
      EndDialog(ui::kResultOk);
      return;
    }
  }
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
