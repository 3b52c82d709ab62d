#include "ui/track_log_window.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace qarn2::ui {
namespace {

constexpr int kPollMs = 100;

QString Joined(const std::vector<std::string>& lines) {
  QString text;
  for (const std::string& line : lines) {
    if (!text.isEmpty()) text += u'\n';
    text += QString::fromStdString(line);
  }
  return text;
}

}  // namespace

TrackLogWindow::TrackLogWindow(engine::LiveTrackLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window),
      shown_(log),
      list_(new QPlainTextEdit(this)),
      status_(new QLabel(this)),
      commands_only_(new QCheckBox(QStringLiteral("nur &Befehle"), this)),
      clear_button_(new QPushButton(QStringLiteral("&Leeren"), this)),
      save_button_(new QPushButton(QStringLiteral("&Speichern..."), this)) {
  setObjectName("Protokoll");
  setWindowTitle(QStringLiteral("Protokoll"));
  list_->setObjectName("ProtokollListe");
  list_->setReadOnly(true);
  list_->setLineWrapMode(QPlainTextEdit::NoWrap);
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list_->setAccessibleName(QStringLiteral("Gleisprotokoll"));
  list_->setAccessibleDescription(
      QStringLiteral("Was zum Gleis geht: Pakete mit Zeit und Bedeutung, DTR und RTS, Quittungen"));
  status_->setObjectName("ProtokollStatus");
  commands_only_->setObjectName("ProtokollNurBefehle");
  commands_only_->setAccessibleDescription(
      QStringLiteral("Leerlauf-, Reset- und wiederholte Fahrpakete ausblenden"));
  clear_button_->setObjectName("ProtokollLeeren");
  save_button_->setObjectName("ProtokollSpeichern");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(commands_only_);
  buttons->addWidget(clear_button_);
  buttons->addWidget(save_button_);
  buttons->addWidget(status_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(720, 420);

  connect(commands_only_, &QCheckBox::toggled, this, [this](bool on) { ShowCommandsOnly(on); });
  connect(clear_button_, &QPushButton::clicked, this, [this] { Clear(); });
  connect(save_button_, &QPushButton::clicked, this, [this] { ChooseAndSave(); });
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    Poll();
    CheckSaving();
  });
}

TrackLogWindow::~TrackLogWindow() {
  // A save still running finishes first (the lines wait for it when they go).
  if (saving_.valid()) saving_.wait();
}

void TrackLogWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Poll();
  timer_.start();
}

void TrackLogWindow::hideEvent(QHideEvent* event) {
  timer_.stop();
  QWidget::hideEvent(event);
}

void TrackLogWindow::Poll() {
  const engine::ShownTrackLog::Update update = shown_.Poll();
  lost_ += update.lost;
  if (!update.last && update.added.empty() && update.dropped == 0) return;
  QScrollBar* bar = list_->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  const int kept = bar->value();
  if (update.last) {
    QTextCursor last(list_->document()->lastBlock());
    last.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    last.insertText(QString::fromStdString(*update.last));
  }
  if (!update.added.empty()) list_->appendPlainText(Joined(update.added));
  if (update.dropped >= static_cast<std::size_t>(list_->blockCount())) {
    list_->clear();
  } else if (update.dropped > 0) {
    QTextCursor top(list_->document());
    top.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(update.dropped));
    top.removeSelectedText();
  }
  if (following) {
    bar->setValue(bar->maximum());
  } else {
    bar->setValue(kept);
  }
  if (lost_ > 0 && !saving_.valid()) {
    status_->setText(QString::number(lost_) + QStringLiteral(" Einträge verpasst"));
  }
}

void TrackLogWindow::ShowCommandsOnly(bool on) {
  Poll();
  list_->setPlainText(Joined(shown_.ShowCommandsOnly(on)));
  QScrollBar* bar = list_->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TrackLogWindow::Clear() {
  shown_.Clear();
  list_->clear();
  lost_ = 0;
  status_->clear();
}

void TrackLogWindow::ChooseAndSave() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Protokoll speichern"), QString(),
                                                    QStringLiteral("Textdateien (*.txt);;Alle Dateien (*)"));
  if (!path.isEmpty()) SaveTo(path.toStdString());
}

void TrackLogWindow::SaveTo(const std::string& path) {
  if (saving_.valid()) saving_.wait();
  saving_path_ = path;
  saving_ = shown_.Save(path);
  status_->setText(QStringLiteral("wird gespeichert ..."));
  CheckSaving();
}

void TrackLogWindow::CheckSaving() {
  if (!saving_.valid() || saving_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
  const std::string problem = saving_.get();
  const QString name = QString::fromStdString(saving_path_);
  status_->setText(problem.empty() ? QStringLiteral("gespeichert: ") + name
                                   : QStringLiteral("nicht gespeichert: ") + name + " (" +
                                         QString::fromStdString(problem) + ")");
}

}  // namespace qarn2::ui
