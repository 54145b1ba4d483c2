#include "qt/qt_prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

#include "qt/dialog_host.h"

namespace tillwright::qt {

namespace {

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString Caption(std::string_view caption) {
  return caption.empty() ? QApplication::applicationName() : ToQt(caption);
}

QMessageBox::Icon BoxIcon(ui::Icon icon) {
  switch (icon) {
    case ui::Icon::Information: return QMessageBox::Information;
    case ui::Icon::Warning: return QMessageBox::Warning;
    case ui::Icon::Error: return QMessageBox::Critical;
    case ui::Icon::Question: return QMessageBox::Question;
    case ui::Icon::None: break;
  }
  return QMessageBox::NoIcon;
}

int Box(QWidget *parent, ui::Icon icon, std::string_view caption, std::string_view text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
  QMessageBox box(BoxIcon(icon), Caption(caption), ToQt(text), buttons, parent);
  box.setDefaultButton(defaultButton);
  return box.exec();
}

}  // namespace

// The progress of a long exchange, modal over the whole program. Escape and the close button
// mean Stop when stopping is offered and nothing otherwise: the exchange decides when it ends.
class ProgressWindow final : public QDialog {
 public:
  ProgressWindow(QWidget *parent, const QString &text, int steps, bool stoppable, std::function<void()> onStop)
      : QDialog(parent), onStop_(std::move(onStop)) {
    setWindowTitle(QApplication::applicationName());
    setWindowModality(Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(this);
    label_ = new QLabel(text, this);
    label_->setMinimumWidth(260);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, steps);
    bar_->setValue(0);
    bar_->setAccessibleName(QStringLiteral("Progress"));
    layout->addWidget(label_);
    layout->addWidget(bar_);
    stop_ = new QPushButton(QStringLiteral("Stop"), this);
    stop_->setAccessibleName(QStringLiteral("Stop"));
    stop_->setObjectName(QStringLiteral("stop"));
    stop_->setVisible(stoppable);
    layout->addWidget(stop_, 0, Qt::AlignRight);
    connect(stop_, &QPushButton::clicked, this, [this] { reject(); });
  }

  void Set(int step, const QString &text) {
    bar_->setValue(step);
    label_->setText(text);
  }

  void reject() override {
    if (stop_->isHidden() || !stop_->isEnabled()) return;
    // Once asked, the exchange finishes its step; the button says it heard.
    stop_->setEnabled(false);
    onStop_();
  }

 protected:
  void closeEvent(QCloseEvent *event) override {
    event->ignore();
    reject();
  }

 private:
  std::function<void()> onStop_;
  QLabel *label_;
  QProgressBar *bar_;
  QPushButton *stop_;
};

QtPrompter::QtPrompter() = default;

QtPrompter::~QtPrompter() { delete progress_.data(); }

void QtPrompter::Inform(std::string_view text, std::string_view caption, ui::Icon icon) {
  Box(Parent(), icon, caption, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtPrompter::AskOkCancel(std::string_view text, std::string_view caption, ui::Icon icon) {
  return Box(Parent(), icon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

bool QtPrompter::AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon) {
  return Box(Parent(), icon, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void QtPrompter::BeginWait() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtPrompter::EndWait() { QApplication::restoreOverrideCursor(); }

std::optional<std::string> QtPrompter::OpenFile(std::string_view title, std::string_view filter) {
  const QString path =
      QFileDialog::getOpenFileName(Parent(), ToQt(title), QString(), ToQt(QtFileFilter(filter)));
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

std::optional<std::string> QtPrompter::SaveFile(std::string_view title, std::string_view filter,
                                                std::string_view suggestedName) {
  QFileDialog box(Parent(), ToQt(title), QString(), ToQt(QtFileFilter(filter)));
  box.setAcceptMode(QFileDialog::AcceptSave);
  box.setFileMode(QFileDialog::AnyFile);
  box.selectFile(ToQt(suggestedName));
  // A name typed without an ending gets the suggested one's ("zip" of "support.zip").
  const std::string_view::size_type dot = suggestedName.find('.');
  if (dot != std::string_view::npos) box.setDefaultSuffix(ToQt(suggestedName.substr(dot + 1)));
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return std::nullopt;
  return box.selectedFiles().constFirst().toStdString();
}

void QtPrompter::BeginProgress(std::string_view text, int steps, bool stoppable) {
  stopped_ = false;
  progressEnded_ = false;
  delete progress_.data();
  progress_ = new ProgressWindow(Parent(), ToQt(text), steps, stoppable, [this] { Stop(); });
  progress_->show();
}

void QtPrompter::SetProgress(int step, std::string_view text) {
  if (!progress_) return;
  progress_->Set(step, ToQt(text));
  // An exchange on this thread lets the window paint and hear Stop between its steps; inside
  // WaitProgress the loop serves them already.
  if (waiting_ == nullptr) QCoreApplication::processEvents();
}

void QtPrompter::Stop() { stopped_ = true; }

void QtPrompter::WaitProgress() {
  if (progressEnded_) return;
  QEventLoop loop;
  waiting_ = &loop;
  loop.exec();
  waiting_ = nullptr;
}

void QtPrompter::EndProgress() {
  progressEnded_ = true;
  if (progress_) {
    progress_->hide();
    // It may be the object whose event is being served: delete it once that is over.
    progress_->deleteLater();
    progress_ = nullptr;
  }
  if (waiting_ != nullptr) waiting_->quit();
}

int QtPrompter::Run(ui::Dialog &dialog) {
  DialogHost host(dialog, *this, windows_, Parent());
  return host.Exec();
}

QWidget *QtPrompter::Progress() const { return progress_.data(); }

std::string QtFileFilter(std::string_view filter) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= filter.size()) {
    size_t end = filter.find('|', start);
    if (end == std::string_view::npos) end = filter.size();
    parts.emplace_back(filter.substr(start, end - start));
    start = end + 1;
  }
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) continue;
    std::string entry = parts[i];
    // A description without its patterns gets them, with Qt's blank between patterns.
    if (entry.find('(') == std::string::npos) {
      std::string patterns = parts[i + 1];
      for (char &c : patterns)
        if (c == ';') c = ' ';
      entry += " (" + patterns + ")";
    }
    if (!out.empty()) out += ";;";
    out += entry;
  }
  return out;
}

}  // namespace tillwright::qt
