#include "qt/dialog_host.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextEdit>
#include <QUiLoader>
#include <QValidator>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "dialogs/address.h"
#include "dialogs/picker_text.h"
#include "dialogs/picture_fit.h"
#include "platform/mutex.h"

// Outside any namespace, as Qt's resource initialisation requires.
static void InitTemplates() { Q_INIT_RESOURCE(tillwright); }

namespace tillwright::qt {

void InitResources() {
  static std::once_flag once;
  std::call_once(once, InitTemplates);
}

namespace {

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string FromQt(const QString &text) { return text.toStdString(); }

// The pickers' texts follow ui::PickerText: a picker shows a date, a time, or both.
std::string PickerText(const QDateTimeEdit *picker) {
  const QDateTime value = picker->dateTime();
  const bool date = (picker->displayedSections() & QDateTimeEdit::DateSections_Mask) != 0;
  const bool time = (picker->displayedSections() & QDateTimeEdit::TimeSections_Mask) != 0;
  const ui::PickerValue v{value.date().year(), value.date().month(),  value.date().day(),
                          value.time().hour(), value.time().minute(), value.time().second()};
  return ui::PickerText(v, date && time ? ui::PickerShows::DateAndTime
                           : date       ? ui::PickerShows::Date
                                        : ui::PickerShows::Time);
}

// Fusion draws a read-only field exactly like an editable one. The window's own colour behind the
// text, as Windows gives a read-only edit, shows which values cannot be typed over.
void ShowReadOnly(QWidget *field, bool readOnly) {
  const QPalette around = field->parentWidget() != nullptr ? field->parentWidget()->palette() : QApplication::palette(field);
  QPalette palette = field->palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, QPalette::Base, around.color(group, readOnly ? QPalette::Window : QPalette::Base));
  field->setPalette(palette);
}

bool IsReadOnly(const QWidget *w) {
  if (auto *edit = qobject_cast<const QLineEdit *>(w)) return edit->isReadOnly();
  if (auto *text = qobject_cast<const QTextEdit *>(w)) return text->isReadOnly();
  if (auto *plain = qobject_cast<const QPlainTextEdit *>(w)) return plain->isReadOnly();
  return false;
}

void SetPickerText(QDateTimeEdit *picker, const QString &text) {
  const QDateTime now = picker->dateTime();
  ui::PickerValue v{now.date().year(), now.date().month(),  now.date().day(),
                    now.time().hour(), now.time().minute(), now.time().second()};
  if (!ui::ReadPickerText(FromQt(text), v)) return;
  picker->setDateTime(QDateTime(QDate(v.year, v.month, v.day), QTime(v.hour, v.minute, v.second)));
}

// An IPv4 address as it is typed: up to four groups of at most three digits, each at most 255,
// between dots. A pasted address loses the blanks around it.
class AddressValidator final : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString &input, int &pos) const override {
    const QString trimmed = input.trimmed();
    if (trimmed != input) {
      qsizetype lead = 0;
      while (lead < input.size() && input[lead].isSpace()) ++lead;
      pos = static_cast<int>(std::clamp<qsizetype>(pos - lead, 0, trimmed.size()));
      input = trimmed;
    }
    if (input.isEmpty()) return Acceptable;
    const QStringList groups = input.split(QLatin1Char('.'));
    if (groups.size() > 4) return Invalid;
    for (const QString &group : groups) {
      if (group.size() > 3) return Invalid;
      for (const QChar c : group)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
      if (!group.isEmpty() && group.toInt() > 255) return Invalid;
    }
    return ui::ParseAddress(input.toStdString()) ? Acceptable : Intermediate;
  }
};

}  // namespace

// Where worker threads post: the window while the run lasts, null once the host lets it go.
struct PostBox {
  platform::Mutex mutex;
  QObject *target GUARDED_BY(mutex) = nullptr;
  bool open = false;          // user-interface thread only
};

// The template's top widget: Escape, the window's close button and Enter without a default
// button reach the logic as Cancel and OK instead of ending the run themselves. Only the logic
// ends it (DialogHost::End).
class HostWindow final : public QDialog {
 public:
  explicit HostWindow(QWidget *parent) : QDialog(parent) {}
  DialogHost *host = nullptr;

  void accept() override {
    if (host) host->Dispatch(ui::kIdOk, ui::Event::Clicked);
  }
  void reject() override {
    if (host) host->Dispatch(ui::kIdCancel, ui::Event::Clicked);
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    event->ignore();
    reject();
  }
};

namespace {

class Loader final : public QUiLoader {
 public:
  using QUiLoader::QUiLoader;
  HostWindow *window = nullptr;

  QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override {
    if (window == nullptr && className == QLatin1String("QDialog")) {
      window = new HostWindow(parent);
      window->setObjectName(name);
      return window;
    }
    return QUiLoader::createWidget(className, parent, name);
  }
};

}  // namespace

DialogHost::DialogHost(ui::Dialog &dialog, ui::IPrompter &prompter, WindowStack &windows, QWidget *parent)
    : dialog_(dialog), prompter_(prompter), windows_(windows), box_(std::make_shared<PostBox>()) {
  InitResources();
  const std::string name = dialog.TemplateName();
  QFile file(QStringLiteral(":/templates/%1.ui").arg(ToQt(name)));
  if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("no dialog template " + name);
  Loader loader;
  loader.setLanguageChangeEnabled(false);
  QWidget *top = loader.load(&file, parent);
  if (top == nullptr || top != loader.window) {
    delete top;
    throw std::runtime_error("dialog template " + name + " does not load as a dialog: " +
                             FromQt(loader.errorString()));
  }
  window_ = loader.window;
  window_->host = this;

  static const QRegularExpression kControlName(QStringLiteral("^[A-Za-z]+([0-9]+)$"));
  for (QWidget *widget : window_->findChildren<QWidget *>()) {
    const QRegularExpressionMatch match = kControlName.match(widget->objectName());
    if (!match.hasMatch()) continue;
    const ui::ControlId id = match.captured(1).toInt();
    if (!controls_.emplace(id, widget).second)
      throw std::runtime_error("dialog template " + name + " names control " + std::to_string(id) + " twice");
    if (auto *edit = qobject_cast<QLineEdit *>(widget); edit && widget->objectName().startsWith(QLatin1String("address")))
      edit->setValidator(new AddressValidator(edit));
    if (IsReadOnly(widget)) ShowReadOnly(widget, true);
    Connect(id, widget);
  }
  AddMenuActions();
  {
    platform::MutexLock lock(box_->mutex);
    box_->target = window_;
  }
}

DialogHost::~DialogHost() {
  Close();
  {
    platform::MutexLock lock(box_->mutex);
    box_->target = nullptr;
  }
  // Tasks still queued for the window go with it.
  delete window_.data();
}

void DialogHost::Connect(ui::ControlId id, QWidget *widget) {
  const auto event = [this, id](ui::Event e) {
    return [this, id, e] { Dispatch(id, e); };
  };
  if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
    QObject::connect(button, &QAbstractButton::clicked, window_, event(ui::Event::Clicked));
  } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
    QObject::connect(edit, &QLineEdit::textEdited, window_, event(ui::Event::Changed));
  } else if (auto *text = qobject_cast<QTextEdit *>(widget)) {
    QObject::connect(text, &QTextEdit::textChanged, window_, event(ui::Event::Changed));
  } else if (auto *plain = qobject_cast<QPlainTextEdit *>(widget)) {
    QObject::connect(plain, &QPlainTextEdit::textChanged, window_, event(ui::Event::Changed));
  } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
    QObject::connect(combo, &QComboBox::currentIndexChanged, window_, event(ui::Event::SelectionChanged));
    if (QLineEdit *typed = combo->lineEdit())
      QObject::connect(typed, &QLineEdit::textEdited, window_, event(ui::Event::Changed));
  } else if (auto *list = qobject_cast<QListWidget *>(widget)) {
    QObject::connect(list, &QListWidget::currentRowChanged, window_, event(ui::Event::SelectionChanged));
  } else if (auto *picker = qobject_cast<QDateTimeEdit *>(widget)) {
    QObject::connect(picker, &QDateTimeEdit::dateTimeChanged, window_, event(ui::Event::Changed));
  }
}

// The dialog's menu actions, with no control of their own: the dialog's context menu (the right
// mouse button, or the menu key and Shift+F10 from a control without a menu of its own) and
// their keys while the dialog is the active window.
void DialogHost::AddMenuActions() {
  const auto &actions = dialog_.MenuActions();
  if (actions.empty()) return;
  for (const ui::Dialog::MenuAction &entry : actions) {
    auto *action = new QAction(ToQt(entry.text), window_);
    action->setObjectName(QStringLiteral("action%1").arg(entry.id));
    if (!entry.keys.empty()) {
      action->setShortcut(QKeySequence(ToQt(entry.keys), QKeySequence::PortableText));
      action->setShortcutContext(Qt::WindowShortcut);
      action->setShortcutVisibleInContextMenu(true);
    }
    const ui::ControlId id = entry.id;
    QObject::connect(action, &QAction::triggered, window_, [this, id] { Dispatch(id, ui::Event::Clicked); });
    window_->addAction(action);
  }
  window_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QAction *DialogHost::MenuAction(ui::ControlId id) const {
  return window_->findChild<QAction *>(QStringLiteral("action%1").arg(id), Qt::FindDirectChildrenOnly);
}

void DialogHost::Dispatch(ui::ControlId id, ui::Event event) {
  if (!open_ || updating_ > 0) return;
  // Nothing may leave a handler into Qt's event loop.
  try {
    dialog_.Dispatch(id, event);
  } catch (const std::exception &e) {
    Report(e.what());
  }
}

void DialogHost::Report(const char *what) const {
  std::fprintf(stderr, "tillwright: %s: %s\n", dialog_.TemplateName().c_str(), what);
  prompter_.Inform(what, {}, ui::Icon::Error);
}

int DialogHost::Exec() {
  Open(false);
  if (!ended_) result_ = window_->exec();
  Close();
  return result_;
}

void DialogHost::Open(bool show) {
  if (open_) return;
  ended_ = false;
  result_ = ui::kResultCancel;
  dialog_.Attach(*this, prompter_);
  windows_.Push(window_);
  open_ = true;
  box_->open = true;
  try {
    dialog_.OnInitDialog();
  } catch (const std::exception &e) {
    Report(e.what());
  }
  if (show && !ended_) window_->show();
}

void DialogHost::Close() {
  if (!open_) return;
  // From here on, what workers post is dropped (the dialog's OnDestroy may still see some come).
  open_ = false;
  box_->open = false;
  window_->hide();
  try {
    dialog_.OnDestroy();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "tillwright: %s: %s\n", dialog_.TemplateName().c_str(), e.what());
  }
  windows_.Pop(window_);
  dialog_.Detach();
}

QDialog &DialogHost::Window() const { return *window_; }

QWidget *DialogHost::Control(ui::ControlId id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

std::vector<ui::ControlId> DialogHost::ControlIds() const {
  std::vector<ui::ControlId> ids;
  for (const auto &[id, widget] : controls_) ids.push_back(id);
  return ids;
}

QWidget *DialogHost::Find(ui::ControlId id) const {
  QWidget *widget = Control(id);
  if (widget == nullptr && missing_.insert(id).second)
    std::fprintf(stderr, "tillwright: template %s has no control %d\n", dialog_.TemplateName().c_str(), id);
  return widget;
}

std::string DialogHost::Text(ui::ControlId id) const {
  QWidget *w = Find(id);
  if (auto *edit = qobject_cast<QLineEdit *>(w)) return FromQt(edit->text());
  if (auto *text = qobject_cast<QTextEdit *>(w)) return FromQt(text->toPlainText());
  if (auto *plain = qobject_cast<QPlainTextEdit *>(w)) return FromQt(plain->toPlainText());
  if (auto *label = qobject_cast<QLabel *>(w)) return FromQt(label->text());
  if (auto *button = qobject_cast<QAbstractButton *>(w)) return FromQt(button->text());
  if (auto *combo = qobject_cast<QComboBox *>(w)) return FromQt(combo->currentText());
  if (auto *list = qobject_cast<QListWidget *>(w)) return list->currentItem() ? FromQt(list->currentItem()->text()) : "";
  if (auto *group = qobject_cast<QGroupBox *>(w)) return FromQt(group->title());
  if (auto *picker = qobject_cast<QDateTimeEdit *>(w)) return PickerText(picker);
  return {};
}

void DialogHost::SetText(ui::ControlId id, std::string_view text) {
  QWidget *w = Find(id);
  if (w == nullptr) return;
  ++updating_;
  const QString value = ToQt(text);
  // A caption that is also the control's accessible name (a status label) keeps the two alike.
  const auto caption = [w, &value](const QString &old) {
    if (w->accessibleName() == old) w->setAccessibleName(value);
  };
  if (auto *edit = qobject_cast<QLineEdit *>(w)) {
    edit->setText(value);
  } else if (auto *textEdit = qobject_cast<QTextEdit *>(w)) {
    textEdit->setPlainText(value);
  } else if (auto *plain = qobject_cast<QPlainTextEdit *>(w)) {
    plain->setPlainText(value);
  } else if (auto *label = qobject_cast<QLabel *>(w)) {
    // A label that captions a field may name the field; any other is read out as what it shows,
    // even where the template named it otherwise or the text is now empty.
    if (label->buddy() != nullptr) caption(label->text());
    else label->setAccessibleName(value);
    label->setText(value);
  } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
    caption(button->text());
    button->setText(value);
  } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
    if (combo->isEditable()) combo->setEditText(value);
    else combo->setCurrentIndex(combo->findText(value));
  } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
    caption(group->title());
    group->setTitle(value);
  } else if (auto *picker = qobject_cast<QDateTimeEdit *>(w)) {
    SetPickerText(picker, value);
  }
  --updating_;
}

bool DialogHost::Checked(ui::ControlId id) const {
  auto *button = qobject_cast<QAbstractButton *>(Find(id));
  return button != nullptr && button->isChecked();
}

void DialogHost::SetChecked(ui::ControlId id, bool checked) {
  auto *button = qobject_cast<QAbstractButton *>(Find(id));
  if (button == nullptr) return;
  ++updating_;
  // A radio button of an exclusive group refuses to be cleared on its own; the logic may want
  // none of the group checked.
  if (!checked && button->isChecked() && button->autoExclusive()) {
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
  } else {
    button->setChecked(checked);
  }
  --updating_;
}

std::vector<std::string> DialogHost::Items(ui::ControlId id) const {
  std::vector<std::string> items;
  QWidget *w = Find(id);
  if (auto *combo = qobject_cast<QComboBox *>(w)) {
    for (int i = 0; i < combo->count(); ++i) items.push_back(FromQt(combo->itemText(i)));
  } else if (auto *list = qobject_cast<QListWidget *>(w)) {
    for (int i = 0; i < list->count(); ++i) items.push_back(FromQt(list->item(i)->text()));
  }
  return items;
}

void DialogHost::SetItems(ui::ControlId id, const std::vector<std::string> &items) {
  QWidget *w = Find(id);
  QStringList list;
  for (const std::string &item : items) list.append(ToQt(item));
  ++updating_;
  if (auto *combo = qobject_cast<QComboBox *>(w)) {
    combo->clear();
    combo->addItems(list);
    combo->setCurrentIndex(-1);
  } else if (auto *listWidget = qobject_cast<QListWidget *>(w)) {
    listWidget->clear();
    listWidget->addItems(list);
    listWidget->setCurrentRow(-1);
  }
  --updating_;
}

int DialogHost::Selection(ui::ControlId id) const {
  QWidget *w = Find(id);
  if (auto *combo = qobject_cast<QComboBox *>(w)) {
    // Text typed into an editable box that matches no entry selects none, as on Windows.
    const int index = combo->currentIndex();
    if (combo->isEditable() && index >= 0 && combo->currentText() != combo->itemText(index)) return -1;
    return index;
  }
  if (auto *list = qobject_cast<QListWidget *>(w)) return list->currentRow();
  return -1;
}

void DialogHost::SetSelection(ui::ControlId id, int index) {
  QWidget *w = Find(id);
  ++updating_;
  if (auto *combo = qobject_cast<QComboBox *>(w)) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  } else if (auto *list = qobject_cast<QListWidget *>(w)) {
    list->setCurrentRow(index >= 0 && index < list->count() ? index : -1);
  }
  --updating_;
}

std::optional<uint32_t> DialogHost::Address(ui::ControlId id) const {
  auto *edit = qobject_cast<QLineEdit *>(Find(id));
  if (edit == nullptr) return 0u;
  const std::string text = FromQt(edit->text().trimmed());
  if (text.empty()) return 0u;
  return ui::ParseAddress(text);
}

void DialogHost::SetAddress(ui::ControlId id, uint32_t address) {
  auto *edit = qobject_cast<QLineEdit *>(Find(id));
  if (edit == nullptr) return;
  ++updating_;
  edit->setText(ToQt(ui::FormatAddress(address)));
  --updating_;
}

bool DialogHost::Enabled(ui::ControlId id) const {
  QWidget *w = Find(id);
  return w != nullptr && w->isEnabledTo(window_);
}

void DialogHost::SetEnabled(ui::ControlId id, bool enabled) {
  if (QWidget *w = Find(id)) w->setEnabled(enabled);
}

bool DialogHost::ReadOnly(ui::ControlId id) const { return IsReadOnly(Find(id)); }

void DialogHost::SetReadOnly(ui::ControlId id, bool readOnly) {
  QWidget *w = Find(id);
  if (auto *edit = qobject_cast<QLineEdit *>(w)) edit->setReadOnly(readOnly);
  else if (auto *text = qobject_cast<QTextEdit *>(w)) text->setReadOnly(readOnly);
  else if (auto *plain = qobject_cast<QPlainTextEdit *>(w)) plain->setReadOnly(readOnly);
  else return;
  ShowReadOnly(w, readOnly);
}

// What the template (or the logic) says, whether or not the window is on the screen yet.
bool DialogHost::Visible(ui::ControlId id) const {
  QWidget *w = Find(id);
  return w != nullptr && !w->isHidden();
}

void DialogHost::SetVisible(ui::ControlId id, bool visible) {
  if (QWidget *w = Find(id)) w->setVisible(visible);
}

void DialogHost::SetFocus(ui::ControlId id) {
  if (QWidget *w = Find(id)) w->setFocus(Qt::OtherFocusReason);
}

ui::ControlId DialogHost::Focus() const {
  const QWidget *focus = window_->focusWidget();
  for (const auto &[id, widget] : controls_) {
    // An editable combo box's focus sits in its inner line edit.
    if (widget == focus || (focus != nullptr && widget->isAncestorOf(focus) && qobject_cast<QComboBox *>(widget)))
      return id;
  }
  return 0;
}

void DialogHost::SetImage(ui::ControlId id, int width, int height, const std::vector<uint8_t> &rows) {
  auto *label = qobject_cast<QLabel *>(Find(id));
  if (label == nullptr) return;
  const QSize room = label->contentsRect().size();
  const ui::PictureFit fit = ui::FitPicture(room.width(), room.height(), width, height, rows);
  if (fit.greys.empty()) {
    label->clear();
    return;
  }
  const QImage shown = QImage(fit.greys.data(), fit.width, fit.height, fit.width, QImage::Format_Grayscale8).copy();
  label->setPixmap(QPixmap::fromImage(shown));
}

std::string DialogHost::Caption() const { return FromQt(window_->windowTitle()); }

void DialogHost::SetCaption(std::string_view caption) { window_->setWindowTitle(ToQt(caption)); }

void DialogHost::End(int result) {
  ended_ = true;
  result_ = result;
  // Leaves a running exec() once the handler returns to it; before the run, Exec never starts it.
  window_->QDialog::done(result);
}

void DialogHost::Post(std::function<void()> task) {
  platform::MutexLock lock(box_->mutex);
  if (box_->target == nullptr) return;
  QMetaObject::invokeMethod(
      box_->target,
      [box = box_, task = std::move(task), name = dialog_.TemplateName()] {
        if (!box->open) return;
        try {
          task();
        } catch (const std::exception &e) {
          std::fprintf(stderr, "tillwright: %s: %s\n", name.c_str(), e.what());
        }
      },
      Qt::QueuedConnection);
}

int32_t DialogHost::WindowId() const {
  // The serial engine keeps the id as a positive 32-bit number.
  return static_cast<int32_t>(window_->winId() & 0x7FFFFFFF);
}

}  // namespace tillwright::qt
