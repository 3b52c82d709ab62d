#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <future>
#include <string>

#include "engine/shown_track_log.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qarn2::engine {
class LiveTrackLog;
}

namespace qarn2::ui {

// "Protokoll": a window of its own beside the main window that lists, as it happens,
// what goes to the track: every packet with its time and what it asks (a run of
// identical background packets as one line with its count), DTR and RTS, each
// acknowledge, the LGB interface's messages, gaps on the line and, on the simulated
// track, what the decoder did. "nur Befehle" leaves the background out. It shows the
// lines engine::ShownTrackLog makes, follows the end unless the user has scrolled up,
// and can be cleared and saved as UTF-8 text, exactly as listed. It only reads the
// engine's log on a timer: writing to the port never waits for it.
class TrackLogWindow : public QWidget {
 public:
  // `log` lives longer than the window; `parent` is the main window it stands beside.
  TrackLogWindow(engine::LiveTrackLog& log, QWidget* parent);
  ~TrackLogWindow() override;

  // Takes what the log has gained since the last look (the timer does it every
  // 100 ms while the window is shown).
  void Poll();
  // "Leeren": the list and the log emptied.
  void Clear();
  // The lines listed into `path` (UTF-8 text), written on a thread of its own; the
  // outcome shows in the status line once it is done.
  void SaveTo(const std::string& path);

  QPlainTextEdit* List() const { return list_; }
  QLabel* Status() const { return status_; }
  QCheckBox* CommandsOnly() const { return commands_only_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // "Speichern...": asks for the file, then SaveTo.
  void ChooseAndSave();
  // The outcome of a save, once there is one.
  void CheckSaving();
  // "nur Befehle" checked or not: the list starts over.
  void ShowCommandsOnly(bool on);

  engine::ShownTrackLog shown_;
  QPlainTextEdit* list_;
  QLabel* status_;
  QCheckBox* commands_only_;
  QPushButton* clear_button_;
  QPushButton* save_button_;
  QTimer timer_;
  std::uint64_t lost_ = 0;
  std::future<std::string> saving_;
  std::string saving_path_;
};

}  // namespace qarn2::ui
