// The tool's DIALOGEX templates against the .ui files of the Qt front end: both front ends must
// show the same dialog. Every control with an id in the .ui exists in the template with the same
// kind, caption, visibility, enabled and read-only state and items, no template control has an id
// the .ui lacks, a label before an edit field (its accessible name) stays before it, and the
// caption and size (in dialog units, half the .ui's pixels) agree.
#include <cwctype>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/diagnosis_dlg.h"
#include "app/tillwright_dlg.h"
#include "host_support.h"
#include "resource.h"
#include "win32/resources.h"

namespace tillwright::win32::testing {
namespace {

struct UiWidget {
  std::string kind;  // the Qt class
  std::string name;  // the object name's word: "address" marks an IP address control
  int id = 0;        // 0 for widgets no code reaches
  std::string text;
  bool visible = true;
  bool enabled = true;
  bool readOnly = false;
  bool password = false;
  std::vector<std::string> items;
};

struct UiDialog {
  std::string title;
  int width = 0;
  int height = 0;
  std::vector<UiWidget> widgets;
};

std::string Unescape(std::string text) {
  static const std::pair<const char *, const char *> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto &[entity, plain] : kEntities) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::char_traits<char>::length(entity), plain);
    }
  }
  return text;
}

UiDialog ReadUi(const std::string &name) {
  std::ifstream file(std::string(TILLWRIGHT_RESOURCES_DIR) + "/" + name + ".ui");
  std::stringstream content;
  content << file.rdbuf();
  const std::string ui = content.str();
  UiDialog dialog;
  std::smatch match;
  if (std::regex_search(ui, match, std::regex(R"x(<width>(\d+)</width><height>(\d+)</height>)x"))) {
    dialog.width = std::stoi(match[1]);
    dialog.height = std::stoi(match[2]);
  }
  if (std::regex_search(ui, match, std::regex(R"x(name="windowTitle"><string>([^<]*)</string>)x"))) {
    dialog.title = Unescape(match[1]);
  }
  // The child widgets hold no widgets of their own, so each ends at the next </widget>.
  const std::regex start(R"x(<widget class="(Q\w+)" name="([A-Za-z]+?)(\d*)">)x");
  for (auto it = std::sregex_iterator(ui.begin(), ui.end(), start); it != std::sregex_iterator(); ++it) {
    if ((*it)[1] == "QDialog") continue;
    const size_t from = static_cast<size_t>(it->position(0));
    const std::string body = ui.substr(from, ui.find("</widget>", from) - from);
    UiWidget widget;
    widget.kind = (*it)[1];
    widget.name = (*it)[2];
    widget.id = (*it)[3].length() > 0 ? std::stoi((*it)[3]) : 0;
    if (std::regex_search(body, match, std::regex(R"x(name="(text|title)"><string>([^<]*)</string>)x"))) {
      widget.text = Unescape(match[2]);
    }
    widget.visible = body.find(R"x(name="visible"><bool>false)x") == std::string::npos;
    widget.enabled = body.find(R"x(name="enabled"><bool>false)x") == std::string::npos;
    widget.readOnly = body.find(R"x(name="readOnly"><bool>true)x") != std::string::npos;
    widget.password = body.find("QLineEdit::Password") != std::string::npos;
    const std::regex item(R"x(<item><property name="text"><string>([^<]*)</string>)x");
    for (auto i = std::sregex_iterator(body.begin(), body.end(), item); i != std::sregex_iterator(); ++i) {
      widget.items.push_back(Unescape((*i)[1]));
    }
    dialog.widgets.push_back(widget);
  }
  return dialog;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  for (wchar_t &c : name) c = static_cast<wchar_t>(std::towlower(c));
  return name;
}

std::wstring ExpectedClass(const std::string &kind) {
  static const std::map<std::string, std::wstring> kClasses = {
      {"QPushButton", L"button"},         {"QCheckBox", L"button"},
      {"QRadioButton", L"button"},        {"QLineEdit", L"edit"},
      {"QPlainTextEdit", L"edit"},        {"QComboBox", L"combobox"},
      {"QListWidget", L"listbox"},        {"QLabel", L"static"},
      {"QGroupBox", L"button"},           {"QDateEdit", L"sysdatetimepick32"},
      {"QTimeEdit", L"sysdatetimepick32"}};
  const auto it = kClasses.find(kind);
  return it != kClasses.end() ? it->second : L"?" + Widen(kind);
}

// The dialog-unit size the template states (DLGTEMPLATEEX: cx and cy after the style words).
std::pair<int, int> TemplateSize(const std::string &name) {
  const auto found = NamedResource(::GetModuleHandleW(nullptr), RT_DIALOG, TemplateResourceName(name));
  if (found.size() < 26) return {0, 0};
  const auto word = [&](size_t at) {
    return static_cast<int16_t>(static_cast<uint8_t>(found[at]) | (static_cast<uint8_t>(found[at + 1]) << 8));
  };
  if (word(2) != -1) return {0, 0};  // not an extended template
  return {word(22), word(24)};
}

class ToolTemplates : public HostTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ToolTemplates, MatchTheQtFrontEndsDialog) {
  const std::string name = GetParam();
  const UiDialog ui = ReadUi(name);
  ASSERT_FALSE(ui.widgets.empty()) << name << ".ui not read";
  EXPECT_EQ(TemplateSize(name), std::make_pair(ui.width / 2, ui.height / 2));

  Probe dialog(name);
  DialogHost host(dialog, prompter, prompter.Windows());
  const int result = RunWith(dialog, host, [&] {
    EXPECT_EQ(host.Caption(), ui.title);
    std::set<int> uiIds;
    const UiWidget *previous = nullptr;
    for (const UiWidget &widget : ui.widgets) {
      const UiWidget *before = std::exchange(previous, &widget);
      if (widget.id == 0) continue;
      uiIds.insert(widget.id);
      SCOPED_TRACE(name + " control " + std::to_string(widget.id));
      HWND control = Item(host, widget.id);
      ASSERT_NE(control, nullptr);
      const bool address = widget.name == "address";
      EXPECT_EQ(ClassOf(control), address ? L"sysipaddress32" : ExpectedClass(widget.kind));
      // A picker's text is its value, which the .ui does not fix.
      const bool field = widget.kind == "QLineEdit" || widget.kind == "QPlainTextEdit";
      if (!field && widget.kind != "QComboBox" && widget.kind != "QDateEdit" && widget.kind != "QTimeEdit") {
        EXPECT_EQ(host.Text(widget.id), widget.text);
      }
      EXPECT_EQ(host.Visible(widget.id), widget.visible);
      EXPECT_EQ(::IsWindowVisible(control) != FALSE, widget.visible);
      EXPECT_EQ(host.Enabled(widget.id), widget.enabled);
      if (field && !address) {
        EXPECT_EQ(host.ReadOnly(widget.id), widget.readOnly);
        EXPECT_EQ((::GetWindowLongW(control, GWL_STYLE) & ES_PASSWORD) != 0, widget.password);
      }
      if (widget.kind == "QComboBox") {
        EXPECT_EQ(host.Items(widget.id), widget.items);
      }
      // A label with an id is a status the logic sets, not a field's name.
      // Only a multi-line field breaks its lines; each kind of field as the .ui has it.
      if (field && !address) {
        EXPECT_EQ((::GetWindowLongW(control, GWL_STYLE) & ES_MULTILINE) != 0, widget.kind == "QPlainTextEdit");
      }
      if (field && before != nullptr && before->kind == "QLabel" && before->id == 0) {
        HWND label = ::GetWindow(control, GW_HWNDPREV);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(ClassOf(label), L"static");
        EXPECT_EQ(Narrow(WideText(label)), before->text);
      }
    }
    for (HWND child = ::GetWindow(host.Window(), GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      const int id = ::GetDlgCtrlID(child);
      if (id != -1 && id != 0xFFFF) {
        EXPECT_EQ(uiIds.count(id), 1u) << name << " has control " << id << " not in the .ui";
      }
    }
  });
  EXPECT_EQ(result, kBodyDone);
}

INSTANTIATE_TEST_SUITE_P(Win32, ToolTemplates,
                         ::testing::Values("tillwright_dlg", "fiscal_check", "fiscalization", "set_header_footer",
                                           "set_sn", "business_data", "date_period", "reg_data", "set_clerk_name",
                                           "set_clerk_pass", "tcp_ip_config", "set_conn_par", "set_counter",
                                           "enter_price", "set_tax_rates", "klen_print_dlg", "dev_code_tbl",
                                           "load_logo", "diagnosis"));

// The ids the templates and the logic share.
static_assert(CDiagnosisDlg::kReportField == IDC_DIAGNOSIS_REPORT);
static_assert(CDiagnosisDlg::kSaveBundleButton == IDC_SAVE_BUNDLE);
static_assert(CDiagnosisDlg::kCloseButton == IDCANCEL);
static_assert(CTillwrightDlg::kDiagnoseAction == IDM_DIAGNOSE_CONNECTION);

// A dialog's menu actions are the last entries of its window menu, chosen as a system command;
// the report's field breaks its lines as the logic's text does, and is read-only.
TEST_F(HostTest, TheDiagnosisReportAndTheWindowMenusAction) {
  Probe dialog("diagnosis");
  int chosen = 0;
  dialog.Menu({IDM_DIAGNOSE_CONNECTION, "Diagnose connection...", "Ctrl+Shift+D"}, [&] { ++chosen; });
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    HMENU menu = ::GetSystemMenu(host.Window(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_DIAGNOSE_CONNECTION));
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, IDM_DIAGNOSE_CONNECTION, text, 64, MF_BYCOMMAND);
    EXPECT_STREQ(text, L"Diagnose connection...");
    ::SendMessageW(host.Window(), WM_SYSCOMMAND, IDM_DIAGNOSE_CONNECTION, 0);
    EXPECT_EQ(chosen, 1);

    host.SetText(IDC_DIAGNOSIS_REPORT, "ok: one\nfail: two \xE2\x80\x94 mend it\n");
    HWND field = Item(host, IDC_DIAGNOSIS_REPORT);
    EXPECT_EQ(WideText(field), L"ok: one\r\nfail: two \x2014 mend it\r\n");
    EXPECT_EQ(::SendMessageW(field, EM_GETLINECOUNT, 0, 0), 3);
    EXPECT_EQ(host.Text(IDC_DIAGNOSIS_REPORT), "ok: one\nfail: two \xE2\x80\x94 mend it\n");
    EXPECT_TRUE(host.ReadOnly(IDC_DIAGNOSIS_REPORT));
  });
  EXPECT_EQ(chosen, 1);
}

TEST_F(HostTest, TheToolsResourcesCarryIconVersionAndManifest) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  EXPECT_NE(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TILLWRIGHT), IMAGE_ICON, 32, 32, 0), nullptr);
  EXPECT_NE(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_TILLWRIGHT), IMAGE_ICON, 16, 16, 0), nullptr);
  EXPECT_NE(::FindResourceW(instance, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION), nullptr);
  HRSRC manifest = ::FindResourceW(instance, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr);
  const std::string text(static_cast<const char *>(::LockResource(::LoadResource(instance, manifest))),
                         ::SizeofResource(instance, manifest));
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
}

}  // namespace
}  // namespace tillwright::win32::testing
