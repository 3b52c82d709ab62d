#include "ui/track_log_window.h"

#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <chrono>
#include <vector>

#include "engine/track_log.h"
#include "sim/simulated_track.h"

namespace qarn2::ui {
namespace {

constexpr int kPollMs = 100;

}  // namespace

TrackLogWindow::TrackLogWindow(engine::LiveTrackLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window),
      log_(log),
      list_(new QPlainTextEdit(this)),
      status_(new QLabel(this)),
      clear_button_(new QPushButton(QStringLiteral("&Leeren"), this)),
      save_button_(new QPushButton(QStringLiteral("&Speichern..."), this)) {
  setObjectName("Protokoll");
  setWindowTitle(QStringLiteral("Protokoll"));
  list_->setObjectName("ProtokollListe");
  list_->setReadOnly(true);
  list_->setLineWrapMode(QPlainTextEdit::NoWrap);
  list_->setMaximumBlockCount(static_cast<int>(engine::LiveTrackLog::kMaxEntries));
  list_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  list_->setAccessibleName(QStringLiteral("Gleisprotokoll"));
  list_->setAccessibleDescription(
      QStringLiteral("Was zum Gleis geht: Pakete mit Zeit und Bedeutung, DTR und RTS, Quittungen"));
  status_->setObjectName("ProtokollStatus");
  clear_button_->setObjectName("ProtokollLeeren");
  save_button_->setObjectName("ProtokollSpeichern");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(clear_button_);
  buttons->addWidget(save_button_);
  buttons->addWidget(status_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  resize(720, 420);

  connect(clear_button_, &QPushButton::clicked, this, [this] { Clear(); });
  connect(save_button_, &QPushButton::clicked, this, [this] { ChooseAndSave(); });
  timer_.setInterval(kPollMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    Poll();
    CheckSaving();
  });
}

TrackLogWindow::~TrackLogWindow() {
  // A save still running finishes first (the log waits for it when it goes).
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
  QScrollBar* bar = list_->verticalScrollBar();
  const bool following = bar->value() == bar->maximum();
  const int kept = bar->value();
  bool added = false;
  for (;;) {
    std::uint64_t lost = 0;
    const std::vector<sim::TrackLogEntry> entries = log_.Since(next_, &lost);
    lost_ += lost;
    if (entries.empty()) break;
    QString text;
    for (const sim::TrackLogEntry& entry : entries) {
      if (!text.isEmpty()) text += u'\n';
      text += QString::fromUtf8(sim::FormatLogEntry(entry));
    }
    list_->appendPlainText(text);
    added = true;
    if (entries.size() < engine::LiveTrackLog::kMaxPerPoll) break;
  }
  if (!added) return;
  if (following) {
    bar->setValue(bar->maximum());
  } else {
    bar->setValue(kept);
  }
  if (lost_ > 0 && !saving_.valid()) {
    status_->setText(QString::number(lost_) + QStringLiteral(" Einträge verpasst"));
  }
}

void TrackLogWindow::Clear() {
  Poll();
  log_.Clear();
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
  saving_ = log_.Save(path);
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
