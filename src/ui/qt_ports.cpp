#include "ui/qt_ports.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QVBoxLayout>

namespace sono::ui {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}

QtPrompt::QtPrompt(QWidget* parent) : parent_(parent) {}
QtPrompt::~QtPrompt() = default;

Answer QtPrompt::message(const std::string& text, Icon icon, Buttons buttons,
                         const std::string& title) {
  QMessageBox box(parent_);
  box.setWindowTitle(q(title.empty() ? std::string("Ondavia: Sonoteka") : title));
  box.setText(q(text));
  switch (icon) {
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::None: break;
  }
  switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
    case Buttons::AbortRetryIgnore:
      box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
      break;
  }
  box.setWindowFlag(Qt::WindowStaysOnTopHint);  // questions stay in front
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Abort: return Answer::Abort;
    case QMessageBox::Retry: return Answer::Retry;
    case QMessageBox::Ignore: return Answer::Ignore;
    default: return Answer::Ok;
  }
}

std::optional<std::string> QtPrompt::pickFolder(const std::string& start, const std::string& title) {
  const QString folder = QFileDialog::getExistingDirectory(parent_, q(title), q(start));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

// "Logs|*.log|Sons|*.wav;*.mp3" -> "Logs (*.log);;Sons (*.wav *.mp3)"
static QString QtFilter(const std::string& filter) {
  const QStringList parts = q(filter).split('|');
  QStringList entries;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    entries << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
  return entries.isEmpty() ? q(filter) : entries.join(";;");
}

std::optional<std::string> QtPrompt::pickFile(const std::string& folder, const std::string& filter,
                                              const std::string& proposedName) {
  const QString file = QFileDialog::getOpenFileName(parent_, QString(), q(folder + proposedName), QtFilter(filter));
  if (file.isEmpty()) return std::nullopt;
  return file.toStdString();
}

std::optional<std::string> QtPrompt::pickSaveFile(const std::string& folder, const std::string& filter,
                                                  const std::string& proposedName) {
  const QString file = QFileDialog::getSaveFileName(parent_, QString(), q(folder + proposedName), QtFilter(filter),
                                                    nullptr, QFileDialog::DontConfirmOverwrite);
  if (file.isEmpty()) return std::nullopt;
  return file.toStdString();
}

std::optional<int> QtPrompt::chooseItem(const std::string& title, const std::vector<std::string>& items,
                                        int current) {
  QStringList list;
  for (const auto& i : items) list << q(i);
  bool ok = false;
  const QString chosen = QInputDialog::getItem(parent_, q(title), q(title), list, current, false, &ok);
  if (!ok) return std::nullopt;
  return static_cast<int>(list.indexOf(chosen));
}

void QtPrompt::showStepWindow(bool show) {
  if (!step_) {
    // Owned here, not by the main window: it outlives the window at exit.
    step_ = std::make_unique<QDialog>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    step_->setObjectName("FrmMsg");
    auto* layout = new QVBoxLayout(step_.get());
    label_ = new QLabel(step_.get());
    label_->setObjectName("LabelMsgInit");
    label_->setMinimumWidth(420);
    layout->addWidget(label_);
  }
  step_->setVisible(show);
}

void QtPrompt::setStepLabel(const std::string& text) {
  if (!label_) showStepWindow(false);
  label_->setText(q(text));
  // A long copy runs on this thread: the new text is painted now.
  if (step_->isVisible()) label_->repaint();
}

void QtEventLoop::processEvents() {
  struct Depth {
    Depth() { ++depth_; }
    ~Depth() { --depth_; }
  } inside;
  QApplication::processEvents();
}

}  // namespace sono::ui
