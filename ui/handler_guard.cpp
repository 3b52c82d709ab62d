#include "ui/handler_guard.h"

#include <utility>

namespace qarn2::ui {

bool HandlerGuard::Run(const std::function<void()>& handler) {
  // Only the first handler after RunAsPartOfCaller hands its exception back.
  const bool hand_back = std::exchange(hand_back_next_, false);
  try {
    handler();
    return true;
  } catch (const std::exception& e) {
    if (hand_back) {
      handed_back_ = std::current_exception();
    } else {
      const std::string more = explain_ ? explain_(e) : "";
      Report(more.empty() ? e.what() : std::string(e.what()) + "\n" + more);
    }
  } catch (...) {
    if (hand_back) {
      handed_back_ = std::current_exception();
    } else {
      Report("Unknown error");
    }
  }
  return false;
}

void HandlerGuard::RunAsPartOfCaller(const std::function<void()>& start) {
  hand_back_next_ = true;
  handed_back_ = nullptr;
  try {
    start();
  } catch (...) {
    hand_back_next_ = false;
    throw;
  }
  // No handler ran (the button was checked already): nothing to hand back.
  hand_back_next_ = false;
  if (std::exception_ptr error = std::exchange(handed_back_, nullptr)) std::rethrow_exception(error);
}

void HandlerGuard::Report(const std::string& message) const {
  if (sink_) sink_(message);
}

}  // namespace qarn2::ui
