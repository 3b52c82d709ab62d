#include "ui/handler_guard.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/com_error.h"

namespace qarn2::ui {
namespace {

struct GuardCase {
  const char* name;
  std::function<void()> handler;
  bool succeeds;
  std::vector<std::string> messages;
};

TEST(HandlerGuardTest, ReportsWhatAHandlerThrowsAndGoesOn) {
  const std::string open_failure = serial::EComPort(serial::kComOpen, 2).what();
  const std::vector<GuardCase> cases = {
      {"nothing thrown", [] {}, true, {}},
      {"port error", [] { throw serial::EComPort(serial::kComOpen, 2); }, false, {open_failure}},
      {"file error", [] { throw std::runtime_error("Cannot open file X.DEC"); }, false,
       {"Cannot open file X.DEC"}},
      {"anything else", [] { throw 42; }, false, {"Unknown error"}},
  };
  for (const GuardCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> shown;
    HandlerGuard guard([&](const std::string& m) { shown.push_back(m); });
    bool after = false;
    EXPECT_EQ(guard.Run(c.handler), c.succeeds);
    guard.Run([&] { after = true; });  // the next handler runs as usual
    EXPECT_TRUE(after);
    EXPECT_EQ(shown, c.messages);
  }
  EXPECT_EQ(open_failure, "Unable to open com port (win error code: 2)");
}

TEST(HandlerGuardTest, AHandlerTheProgramStartsFailsItsCaller) {
  std::vector<std::string> shown;
  HandlerGuard guard([&](const std::string& m) { shown.push_back(m); });
  // The started handler throws; a user's handler that ran inside it (during one of
  // its waits) threw too and is reported on its own.
  const auto started = [&] {
    guard.Run([&] {
      guard.Run([] { throw std::runtime_error("inside the wait"); });
      throw std::runtime_error("started handler");
    });
  };
  EXPECT_THROW(
      {
        try {
          guard.RunAsPartOfCaller(started);
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "started handler");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(shown, std::vector<std::string>{"inside the wait"});

  // No handler started (the button was already checked): nothing is handed to the
  // next handler, which reports as usual.
  guard.RunAsPartOfCaller([] {});
  guard.Run([] { throw std::runtime_error("later"); });
  EXPECT_EQ(shown.back(), "later");

  // A started handler that succeeds leaves the caller going.
  EXPECT_NO_THROW(guard.RunAsPartOfCaller([&] { guard.Run([] {}); }));
}

}  // namespace
}  // namespace qarn2::ui
