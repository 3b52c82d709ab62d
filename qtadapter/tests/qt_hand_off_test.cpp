#include "qtadapter/qt_hand_off.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qarn2::qtadapter {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// Limit for anything that should take milliseconds; only reached when the hand-off
// hangs.
constexpr seconds kHangLimit{30};

// How the user-interface thread serves deliveries in a test.
enum class Serving {
  kEventLoop,     // only the Qt event loop runs
  kServePending,  // no event loop: ServePending in a loop, as the port's Close does
  kMixed,         // the event loop, with ServePending called whenever it is idle
};

std::string ServingName(const testing::TestParamInfo<Serving>& info) {
  switch (info.param) {
    case Serving::kEventLoop: return "EventLoop";
    case Serving::kServePending: return "ServePending";
    case Serving::kMixed: return "Mixed";
  }
  return "Unknown";
}

// Threads that deliver; each counts as finished once its body has returned.
class Deliverers {
 public:
  ~Deliverers() { JoinAll(); }

  void Start(std::function<void()> body) {
    threads_.emplace_back([this, body = std::move(body)] {
      body();
      ++finished_;
    });
  }
  bool AllFinished() const { return finished_ == static_cast<int>(threads_.size()); }

  // If a test failed with deliverers still waiting, they are released through both
  // serving paths before joining; a hand-off that still holds them aborts the run
  // instead of hanging it.
  void Release(QtHandOff& hand_off) {
    const Clock::time_point deadline = Clock::now() + seconds(10);
    while (!AllFinished() && Clock::now() < deadline) {
      QCoreApplication::processEvents();
      hand_off.ServePending(milliseconds(1));
    }
    if (!AllFinished()) {
      std::fprintf(stderr, "delivering threads are stuck in QtHandOff::Deliver\n");
      std::abort();
    }
    JoinAll();
  }

 private:
  void JoinAll() {
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

  std::vector<std::thread> threads_;
  std::atomic<int> finished_{0};
};

// Aborts the run if a test is still going after a limit: a deadlock on the
// user-interface thread cannot be caught by the test itself.
class Watchdog {
 public:
  explicit Watchdog(seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!stop_.wait_for(lock, limit, [this] { return stopped_; })) {
            std::fprintf(stderr, "test hung: deadlock in the hand-off?\n");
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    stop_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
  std::thread thread_;
};

class QtHandOffTest : public testing::Test {
 protected:
  // Serves deliveries on this thread, the user-interface thread, until `finished`
  // holds; false if kHangLimit passed first.
  bool ServeUntil(Serving how, const std::function<bool()>& finished) {
    const Clock::time_point deadline = Clock::now() + kHangLimit;
    if (how == Serving::kServePending) {
      while (!finished()) {
        if (Clock::now() > deadline) return false;
        hand_off_.ServePending(milliseconds(1));
      }
      return true;
    }
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (finished() || Clock::now() > deadline) loop.quit();
    });
    poll.start(1);
    QTimer idle;
    if (how == Serving::kMixed) {
      QObject::connect(&idle, &QTimer::timeout, [&] { hand_off_.ServePending(milliseconds(0)); });
      idle.start(0);
    }
    loop.exec();
    return finished();
  }

  bool ServeUntilFinished(Serving how) {
    const bool ok = ServeUntil(how, [this] { return deliverers_.AllFinished(); });
    deliverers_.Release(hand_off_);
    return ok;
  }

  Watchdog watchdog_{2 * kHangLimit};
  int argc_ = 1;
  char program_[16] = "qtadapter_tests";
  char* argv_[2] = {program_, nullptr};
  QCoreApplication app_{argc_, argv_};
  const std::thread::id ui_thread_ = std::this_thread::get_id();
  QtHandOff hand_off_;
  Deliverers deliverers_;  // joined before the hand-off goes
};

class QtHandOffServingTest : public QtHandOffTest,
                             public testing::WithParamInterface<Serving> {};

INSTANTIATE_TEST_SUITE_P(AllWays, QtHandOffServingTest,
                         testing::Values(Serving::kEventLoop, Serving::kServePending,
                                         Serving::kMixed),
                         ServingName);

TEST_P(QtHandOffServingTest, RunsInOrderOnUiThreadWhileTheDelivererWaits) {
  constexpr int kCount = 200;
  std::vector<int> order;
  std::atomic<int> returned{0};
  bool wrong_thread = false;
  bool ran_after_deliverer_went_on = false;
  std::atomic<int> returned_before_run{0};
  deliverers_.Start([&] {
    for (int i = 0; i < kCount; ++i) {
      std::atomic<bool> ran{false};
      hand_off_.Deliver([&, i] {
        if (std::this_thread::get_id() != ui_thread_) wrong_thread = true;
        // Exactly the deliveries before this one have returned.
        if (returned != i) ran_after_deliverer_went_on = true;
        order.push_back(i);
        ran = true;
      });
      if (!ran) ++returned_before_run;
      ++returned;
    }
  });
  ASSERT_TRUE(ServeUntilFinished(GetParam()));

  std::vector<int> expected;
  for (int i = 0; i < kCount; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(wrong_thread);
  EXPECT_FALSE(ran_after_deliverer_went_on);
  EXPECT_EQ(returned_before_run, 0);
}

TEST_P(QtHandOffServingTest, ExceptionsAreReportedOnUiThreadAndReleaseTheDeliverer) {
  std::vector<std::string> reported;
  bool reported_on_wrong_thread = false;
  hand_off_.SetErrorReporter([&](std::exception_ptr error) {
    if (std::this_thread::get_id() != ui_thread_) reported_on_wrong_thread = true;
    try {
      std::rethrow_exception(error);
    } catch (const std::runtime_error& e) {
      reported.push_back(e.what());
    } catch (int code) {
      reported.push_back("int " + std::to_string(code));
    }
  });
  std::atomic<bool> later_ran{false};
  deliverers_.Start([&] {
    hand_off_.Deliver([] { throw std::runtime_error("port gone"); });
    hand_off_.Deliver([] { throw 42; });
    hand_off_.Deliver([&] { later_ran = true; });
  });
  ASSERT_TRUE(ServeUntilFinished(GetParam()));

  EXPECT_EQ(reported, (std::vector<std::string>{"port gone", "int 42"}));
  EXPECT_FALSE(reported_on_wrong_thread);
  EXPECT_TRUE(later_ran);
}

// Several event threads at once, as with more than one open port: the notifications
// never overlap, each thread's come in its own order, and none is lost or repeated.
TEST_P(QtHandOffServingTest, ManyThreadsManyDeliveries) {
  constexpr int kThreads = 8;
  constexpr int kEach = 500;
  std::vector<int> next(kThreads, 0);
  std::atomic<bool> inside{false};
  bool overlapped = false;
  bool wrong_thread = false;
  bool out_of_order = false;
  int total = 0;
  for (int t = 0; t < kThreads; ++t) {
    deliverers_.Start([&, t] {
      for (int i = 0; i < kEach; ++i) {
        hand_off_.Deliver([&, t, i] {
          if (inside.exchange(true)) overlapped = true;
          if (std::this_thread::get_id() != ui_thread_) wrong_thread = true;
          if (next[t] != i) out_of_order = true;
          next[t] = i + 1;
          ++total;
          inside = false;
        });
      }
    });
  }
  ASSERT_TRUE(ServeUntilFinished(GetParam()));

  EXPECT_EQ(total, kThreads * kEach);
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(wrong_thread);
  EXPECT_FALSE(out_of_order);
}

// The port's Close blocks the user-interface thread while it waits for its event
// thread and serves pending deliveries meanwhile; the calls posted to the event loop
// for them must do nothing when the loop runs again.
TEST_F(QtHandOffTest, PostedCallsFindNothingAfterServePendingServedThem) {
  int runs = 0;
  deliverers_.Start([&] {
    for (int i = 0; i < 20; ++i) hand_off_.Deliver([&] { ++runs; });
  });
  ASSERT_TRUE(ServeUntilFinished(Serving::kServePending));
  ASSERT_EQ(runs, 20);

  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 20);
}

TEST_F(QtHandOffTest, ServePendingWaitsForADeliveryAndReturnsWhenItArrives) {
  bool ran = false;
  hand_off_.ServePending(milliseconds(5));  // nothing comes: returns, runs nothing

  deliverers_.Start([&] {
    // Gives the user-interface thread time to be inside ServePending; the test
    // passes either way.
    std::this_thread::sleep_for(milliseconds(20));
    hand_off_.Deliver([&] { ran = true; });
  });
  const Clock::time_point start = Clock::now();
  hand_off_.ServePending(kHangLimit);
  const Clock::duration waited = Clock::now() - start;
  const bool ran_inside = ran;  // notifications run on this thread only
  deliverers_.Release(hand_off_);

  EXPECT_TRUE(ran_inside);
  EXPECT_LT(waited, kHangLimit / 2);
}

TEST_F(QtHandOffTest, DeliverOnUiThreadRunsAtOnce) {
  int runs = 0;
  std::vector<std::string> reported;
  hand_off_.SetErrorReporter([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  hand_off_.Deliver([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_NO_THROW(hand_off_.Deliver([] { throw std::runtime_error("direct"); }));
  EXPECT_EQ(reported, std::vector<std::string>{"direct"});

  QCoreApplication::processEvents();
  EXPECT_EQ(runs, 1);
}

TEST_F(QtHandOffTest, WithoutReporterTheErrorGoesToStderr) {
  testing::internal::CaptureStderr();
  deliverers_.Start([&] {
    hand_off_.Deliver([] { throw std::runtime_error("line went away"); });
  });
  const bool ok = ServeUntilFinished(Serving::kEventLoop);
  hand_off_.Deliver([] { throw 7; });
  const std::string printed = testing::internal::GetCapturedStderr();

  ASSERT_TRUE(ok);
  EXPECT_NE(printed.find("line went away"), std::string::npos) << printed;
  EXPECT_NE(printed.find("unknown error"), std::string::npos) << printed;
}

// A hand-off destroyed with a call still posted for it: the event loop must not run
// that call on the freed object.
TEST_F(QtHandOffTest, DestroyedWithCallsStillPosted) {
  auto own = std::make_unique<QtHandOff>();
  int runs = 0;
  Deliverers deliverers;
  deliverers.Start([&] {
    for (int i = 0; i < 5; ++i) own->Deliver([&] { ++runs; });
  });
  const Clock::time_point deadline = Clock::now() + kHangLimit;
  while (!deliverers.AllFinished() && Clock::now() < deadline) own->ServePending(milliseconds(1));
  deliverers.Release(*own);
  own.reset();

  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(runs, 5);
}

}  // namespace
}  // namespace qarn2::qtadapter
