#pragma once

#include <exception>
#include <functional>
#include <string>

namespace qarn2::ui {

// Where the window's error messages go: a message box in the program, a recorder in
// tests.
using MessageSink = std::function<void(const std::string& message)>;

// The boundary of every event handler. An exception a handler raises (a serial port
// error, a file error) ends that handler; its message goes to the sink and the event
// loop goes on, so no exception ever crosses Qt's event loop. Handlers that run inside
// a wait of another handler are guarded at their own boundary.
//
// A handler that the program itself starts (by checking a radio button) belongs to
// the command that started it: its exception is handed back to that command, which
// ends there too, and the message is shown once.
class HandlerGuard {
 public:
  explicit HandlerGuard(MessageSink sink) : sink_(std::move(sink)) {}

  // Words to add behind an exception's message (what the system says about a port
  // error, and what to do); empty for none.
  void SetExplainer(std::function<std::string(const std::exception&)> explain) { explain_ = std::move(explain); }

  // Runs `handler`; reports what it throws. Returns false if it threw.
  bool Run(const std::function<void()>& handler);

  // Runs `start`, which is expected to start one guarded handler (setting a radio
  // button checked); rethrows here what that handler threw. Handlers started further
  // inside it (user actions during its waits) are still reported on their own.
  void RunAsPartOfCaller(const std::function<void()>& start);

  void Report(const std::string& message) const;

 private:
  MessageSink sink_;
  std::function<std::string(const std::exception&)> explain_;
  bool hand_back_next_ = false;
  std::exception_ptr handed_back_;
};

}  // namespace qarn2::ui
