#include "serial/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "serial/tests/fake_device.h"

namespace qarn2::serial {
namespace {

using testing::FakeLine;
using testing::FakeDevice;
using testing::TestHandOff;
using namespace std::chrono_literals;

// A port on a scripted device; the test's own thread is the user-interface thread.
class ComPortTest : public ::testing::Test {
 protected:
  ComPortTest()
      : port_(hand_off_, [this](const std::string& path) {
          paths_.push_back(path);
          return std::make_unique<FakeDevice>(line_);
        }) {}

  // The settings the system uses for the board: 19200 8N1, the three events.
  void OpenForTrack() {
    port_.SetBaudRate(br19200);
    port_.SetEvents({evRxChar, evTxEmpty, evRing});
    port_.Open();
    ASSERT_TRUE(line_->AwaitWaiter());
  }

  bool Serve(const std::function<bool()>& done) { return hand_off_.ServeUntil(done); }

  int Code(const std::function<void()>& operation) {
    try {
      operation();
    } catch (const EComPort& e) {
      last_message_ = e.what();
      return e.ErrorCode;
    }
    return 0;
  }

  std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
  TestHandOff hand_off_;
  std::vector<std::string> paths_;
  TComPort port_;
  std::string last_message_;
};

TEST_F(ComPortTest, DefaultsAsTheComponentComes) {
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(port_.Port(), "COM1");
  EXPECT_EQ(port_.BaudRate(), br9600);
  EXPECT_EQ(port_.DataBits(), dbEight);
  EXPECT_EQ(port_.StopBits(), sbOneStopBit);
  EXPECT_EQ(port_.Parity().Bits(), prNone);
  EXPECT_EQ(port_.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_EQ(port_.Timeouts().Values(), TimeoutValues{});
  EXPECT_EQ(port_.Timeouts().Values().WriteTotalConstant, 1000);
  EXPECT_EQ(port_.Buffer().InputSize(), 1024);
  EXPECT_EQ(port_.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port_.Events(), TComEvents::All());
  EXPECT_EQ(port_.SyncMethod(), smThreadSync);
}

TEST_F(ComPortTest, OpenAppliesQueuesLineAndTimeoutsInOrderWithLinesOff) {
  port_.SetBaudRate(br19200);
  EXPECT_TRUE(line_->Log().empty());  // stored only while closed
  port_.Open();
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(paths_, std::vector<std::string>{"/dev/ttyS0"});
  const std::vector<std::string> expected = {"open /dev/ttyS0", "queues 1024 1024", "line 19200",
                                             "dtr 0", "rts 0", "timeouts 1000"};
  EXPECT_EQ(line_->Log(), expected);
  const LineSettings applied = line_->LineSettingsApplied().back();
  EXPECT_EQ(applied.data_bits, 8);
  EXPECT_EQ(applied.parity, prNone);
  EXPECT_EQ(applied.stop_bits, sbOneStopBit);
  EXPECT_EQ(applied.xon_limit, 256);
  port_.Open();  // does nothing
  EXPECT_EQ(line_->Log().size(), expected.size());
  port_.Close();
  port_.Close();  // does nothing
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(line_->IsOpen());
}

TEST_F(ComPortTest, FailuresWhileOpeningLeaveThePortClosed) {
  line_->FailWith(FakeLine::Op::kOpen, ENOENT);
  EXPECT_EQ(Code([&] { port_.Open(); }), 1);
  EXPECT_EQ(last_message_, "Unable to open com port (win error code: 2)");
  EXPECT_FALSE(port_.Connected());
  line_->FailWith(FakeLine::Op::kOpen, 0);

  const struct {
    FakeLine::Op op;
    int code;
  } steps[] = {{FakeLine::Op::kQueueSizes, 9}, {FakeLine::Op::kLineSettings, 7}, {FakeLine::Op::kTimeouts, 8}};
  for (const auto& step : steps) {
    line_->FailWith(step.op, EIO);
    EXPECT_EQ(Code([&] { port_.Open(); }), step.code);
    EXPECT_FALSE(port_.Connected());
    EXPECT_FALSE(line_->IsOpen());
    line_->FailWith(step.op, 0);
  }
  // The modem lines are read last; the port stays open.
  line_->FailWith(FakeLine::Op::kModem, EIO);
  EXPECT_EQ(Code([&] { port_.Open(); }), 11);
  EXPECT_TRUE(port_.Connected());
}

TEST_F(ComPortTest, OperationsOnAClosedPortRaiseTheirCodes) {
  std::string text;
  TComRequest* request = nullptr;
  CreateRequest(request);
  EXPECT_EQ(Code([&] { port_.WriteText("x"); }), 2);
  EXPECT_EQ(last_message_, "WriteFile function failed (win error code: 9)");
  EXPECT_EQ(Code([&] { port_.WriteTextAsync("x", request); }), 2);
  EXPECT_EQ(Code([&] { port_.ReadText(text, 5); }), 3);
  EXPECT_EQ(Code([&] { port_.RxQueueCount(); }), 10);
  EXPECT_EQ(Code([&] { port_.SetDTR(true); }), 12);
  EXPECT_EQ(Code([&] { port_.SetRTS(true); }), 12);
  EXPECT_EQ(Code([&] { port_.WaitForRequest(nullptr); }), 4);
  EXPECT_EQ(last_message_, "Invalid Async parameter");
  FreeRequest(request);
  EXPECT_EQ(request, nullptr);
}

TEST_F(ComPortTest, SettersApplyAtOnceWhileOpenWithoutReopening) {
  port_.Open();
  const std::size_t applied = line_->LineSettingsApplied().size();
  port_.SetBaudRate(br9600);  // unchanged: nothing
  EXPECT_EQ(line_->LineSettingsApplied().size(), applied);
  port_.SetDTR(true);
  port_.SetBaudRate(br19200);
  EXPECT_EQ(line_->LineSettingsApplied().back().baud_rate, 19200);
  EXPECT_FALSE(line_->Dtr());  // line control is off after new settings
  port_.Parity().SetBits(prEven);
  EXPECT_EQ(line_->LineSettingsApplied().back().parity, prEven);
  port_.FlowControl().SetControlDTR(dtrEnable);
  EXPECT_TRUE(line_->Dtr());
  port_.SetDataBits(dbSeven);
  port_.SetStopBits(sbTwoStopBits);
  EXPECT_EQ(line_->LineSettingsApplied().back().data_bits, 7);
  EXPECT_EQ(line_->LineSettingsApplied().back().stop_bits, sbTwoStopBits);
  EXPECT_EQ(line_->LineSettingsApplied().size(), applied + 5);

  port_.Buffer().SetInputSize(2049);  // odd: lowered
  EXPECT_EQ(port_.Buffer().InputSize(), 2048);
  EXPECT_EQ(line_->Log().back(), "queues 2048 1024");
  TimeoutValues timeouts;
  timeouts.WriteTotalConstant = 50;
  port_.Timeouts().SetValues(timeouts);
  EXPECT_EQ(line_->Log().back(), "timeouts 50");

  // A failure applying a changed setting leaves the port open with the value stored.
  line_->FailWith(FakeLine::Op::kLineSettings, EINVAL);
  EXPECT_EQ(Code([&] { port_.SetBaudRate(br115200); }), 7);
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(port_.BaudRate(), br115200);
  EXPECT_EQ(paths_.size(), 1u);  // never reopened
}

TEST_F(ComPortTest, PortNamesAreNormalisedAndAChangeReopens) {
  port_.Open();
  port_.SetPort("com1");  // the same port: nothing
  EXPECT_EQ(paths_.size(), 1u);
  port_.SetPort("com2");
  EXPECT_EQ(port_.Port(), "COM2");
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(paths_, (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1"}));
  for (const char* name : {"COM0", "COM17", "ABC"}) {
    port_.SetPort(name);
    EXPECT_EQ(port_.Port(), "COM1") << name;
  }
  port_.Close();
  port_.SetPort("COM3");  // closed: stored only
  EXPECT_EQ(paths_.size(), 3u);
}

TEST_F(ComPortTest, SyncMethodOnlyWhileClosed) {
  port_.SetSyncMethod(smWindowSync);
  port_.Open();
  EXPECT_EQ(Code([&] { port_.SetSyncMethod(smThreadSync); }), 14);
  EXPECT_EQ(last_message_, "Cannot set SyncMethod while connected");
  EXPECT_EQ(port_.SyncMethod(), smWindowSync);
}

TEST_F(ComPortTest, WhileLoadingSettersOnlyStoreAndTheWishToConnectWaits) {
  port_.BeginLoading();
  port_.SetConnected(true);
  port_.SetBaudRate(br19200);
  EXPECT_FALSE(port_.Connected());
  port_.EndLoading();
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(line_->LineSettingsApplied().back().baud_rate, 19200);
}

TEST_F(ComPortTest, NotificationsArriveOnThisThreadInOrderOneBatchAtATime) {
  std::vector<std::string> seen;
  int waits_during_handler = -1;
  port_.OnRxChar = [&](TCustomComPort& sender, int count) {
    EXPECT_EQ(&sender, &port_);
    std::string text;
    sender.ReadText(text, count);
    seen.push_back("rx " + text);
  };
  port_.OnTxEmpty = [&](TCustomComPort&) {
    seen.push_back("tx");
    waits_during_handler = line_->WaitCalls();
  };
  port_.OnRing = [&](TCustomComPort&) { seen.push_back("ring"); };
  OpenForTrack();
  const int waits_before = line_->WaitCalls();
  line_->Receive("ab", {evRing, evTxEmpty, evBreak});  // one batch
  ASSERT_TRUE(Serve([&] { return seen.size() == 3; }));
  EXPECT_EQ(hand_off_.ServedOn(), std::this_thread::get_id());
  EXPECT_EQ(seen, (std::vector<std::string>{"rx ab", "tx", "ring"}));
  // The event thread did not wait for the device again while a handler ran.
  EXPECT_EQ(waits_during_handler, waits_before);
}

TEST_F(ComPortTest, RingsThatComeWhileTheThreadIsBusyAreEachNotified) {
  // A decoder's two acknowledges during one long write: the event thread is still
  // handing over a transmit-empty when both rings come. Each is an acknowledge, so
  // each is a notification.
  std::vector<std::string> seen;
  port_.OnTxEmpty = [&](TCustomComPort&) { seen.push_back("tx"); };
  port_.OnRing = [&](TCustomComPort&) { seen.push_back("ring"); };
  OpenForTrack();
  line_->Raise({evTxEmpty});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (hand_off_.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(hand_off_.Waiting(), 1);
  line_->Ring();
  line_->Ring();
  ASSERT_TRUE(Serve([&] { return seen.size() == 3; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"tx", "ring", "ring"}));
}

TEST_F(ComPortTest, RxCharNeverComesWithCountZero) {
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort&, int count) {
    EXPECT_GE(count, 1);
    ++calls;
  };
  OpenForTrack();
  line_->Raise({evRxChar});  // nothing waiting in the queue
  ASSERT_TRUE(Serve([&] { return line_->WaitCalls() >= 2 && hand_off_.Waiting() == 0; }));
  EXPECT_EQ(calls, 0);
  line_->Receive("x");
  ASSERT_TRUE(Serve([&] { return calls == 1; }));
}

TEST_F(ComPortTest, EventsAreThoseWatchedAtOpening) {
  int tx = 0;
  port_.OnTxEmpty = [&](TCustomComPort&) { ++tx; };
  port_.Open();  // all ten events
  ASSERT_TRUE(line_->AwaitWaiter());
  port_.SetEvents({evRxChar});  // only from the next Open
  EXPECT_EQ(line_->Mask(), TComEvents::All());
  line_->Raise({evTxEmpty});
  ASSERT_TRUE(Serve([&] { return tx == 1; }));
  port_.Close();
  port_.Open();
  EXPECT_EQ(line_->Mask(), TComEvents{evRxChar});
  port_.Close();

  // No events: no thread, no notifications.
  port_.SetEvents({});
  port_.Open();
  line_->Raise({evTxEmpty});
  EXPECT_FALSE(line_->AwaitWaiter(50ms));
  hand_off_.ServePending(10ms);
  EXPECT_EQ(tx, 1);
}

TEST_F(ComPortTest, WritesGoOutInTheOrderStartedAndWaitForTheirEnd) {
  OpenForTrack();
  line_->HoldWrites(true);
  TComRequest* background = nullptr;
  CreateRequest(background);
  EXPECT_EQ(port_.WriteTextAsync("UUUU", background), 0);
  std::atomic<int> written{-1};
  std::thread writer([&] {
    // Stands in for the user-interface thread blocked in WriteText.
    written = port_.WriteText(std::string("a\0b", 3));
  });
  while (line_->HeldWrites() < 2) std::this_thread::yield();
  EXPECT_EQ(written, -1);
  line_->CompleteOldestWrite();
  line_->CompleteOldestWrite();
  writer.join();
  EXPECT_EQ(written, 3);
  EXPECT_EQ(port_.WaitForRequest(background), 4);
  EXPECT_EQ(line_->Written(), std::string("UUUU") + std::string("a\0b", 3));
  FreeRequest(background);
}

TEST_F(ComPortTest, EmptyWritesSendNothingAndCauseNoTransmitEmpty) {
  int tx = 0;
  port_.OnTxEmpty = [&](TCustomComPort&) { ++tx; };
  OpenForTrack();
  EXPECT_EQ(port_.WriteText(""), 0);
  TComRequest* request = nullptr;
  CreateRequest(request);
  EXPECT_EQ(port_.WriteTextAsync("", request), 0);
  EXPECT_EQ(port_.WaitForRequest(request), 0);
  FreeRequest(request);
  hand_off_.ServePending(20ms);
  EXPECT_EQ(tx, 0);
  EXPECT_EQ(line_->Written(), "");
}

TEST_F(ComPortTest, AStalledWriteIsAPortFailure) {
  // Nobody drains the port: the write ends short when its time is up. Reported as a
  // success it would let a command go on as if its packets had reached the track.
  OpenForTrack();
  line_->HoldWrites(true);
  std::atomic<int> code{0};
  std::atomic<int> system_error{0};
  std::thread writer([&] {
    try {
      port_.WriteText("0123456789");
    } catch (const EComPort& e) {
      code = e.ErrorCode;
      system_error = e.SystemErrorCode;
    }
  });
  while (line_->HeldWrites() < 1) std::this_thread::yield();
  line_->CompleteOldestWrite(4);  // what the device reports when the time is up
  writer.join();
  EXPECT_EQ(code, 2);
  EXPECT_EQ(system_error, ETIMEDOUT);
}

TEST_F(ComPortTest, WriteTimeGrowsWithTheText) {
  // 1000 ms + 100 ms per character, handed to the device with each write.
  struct Recorder : FakeDevice {
    using FakeDevice::FakeDevice;
    int StartWrite(std::shared_ptr<WriteJob> job) override {
      timeouts->push_back(job->timeout().count());
      return FakeDevice::StartWrite(job);
    }
    std::vector<long long>* timeouts = nullptr;
  };
  std::vector<long long> timeouts;
  TComPort port(hand_off_, [&](const std::string&) {
    auto device = std::make_unique<Recorder>(line_);
    device->timeouts = &timeouts;
    return device;
  });
  port.SetEvents({});
  port.Open();
  port.WriteText("x");
  port.WriteText(std::string(100, 'x'));
  EXPECT_EQ(timeouts, (std::vector<long long>{1100, 11000}));
}

TEST_F(ComPortTest, HandlersMayUseThePort) {
  int tx = 0;
  TComRequest* background = nullptr;
  CreateRequest(background);
  port_.OnRxChar = [&](TCustomComPort& sender, int count) {
    std::string text;
    sender.ReadText(text, count);
    sender.WriteText("reply:" + text);  // as the receive handler answers
  };
  port_.OnTxEmpty = [&](TCustomComPort& sender) {
    if (++tx < 3) sender.WriteTextAsync("UU", background);  // the background stream
  };
  OpenForTrack();
  line_->Receive("q");
  ASSERT_TRUE(Serve([&] { return tx == 3; }));
  EXPECT_EQ(line_->Written(), "reply:qUUUU");
  FreeRequest(background);
}

TEST_F(ComPortTest, CloseDeliversANotificationOnItsWayAndDropsWhatItWrites) {
  TComRequest* background = nullptr;
  CreateRequest(background);
  int tx = 0;
  port_.OnTxEmpty = [&](TCustomComPort& sender) {
    ++tx;
    line_->HoldWrites(true);
    sender.WriteTextAsync("UUUU", background);
  };
  OpenForTrack();
  line_->Raise({evTxEmpty});
  ASSERT_TRUE(hand_off_.AwaitDelivery());  // the event thread waits for us
  port_.Close();                           // no deadlock
  EXPECT_EQ(tx, 1);
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(line_->Written(), "");
  int error = 0;
  EXPECT_EQ(Code([&] { port_.WaitForRequest(background); }), 2);  // aborted
  (void)error;
  FreeRequest(background);
}

TEST_F(ComPortTest, CloseFromANotificationAndOpenAgain) {
  port_.OnRing = [&](TCustomComPort& sender) { sender.Close(); };
  OpenForTrack();
  line_->Ring();
  ASSERT_TRUE(Serve([&] { return !port_.Connected(); }));
  // The device is closed at once (its lock free for the next opening).
  EXPECT_FALSE(line_->IsOpen());
  port_.Open();  // collects the old event thread first
  EXPECT_TRUE(port_.Connected());
  EXPECT_TRUE(line_->AwaitWaiter());

  // Closed and opened again inside the same notification (a port change from a
  // handler): the device is free to be opened again there.
  bool reopened = false;
  port_.OnRing = [&](TCustomComPort& sender) {
    sender.Close();
    sender.Open();
    reopened = sender.Connected();
  };
  line_->Ring();
  ASSERT_TRUE(Serve([&] { return reopened; }));
  EXPECT_TRUE(line_->IsOpen());
}

TEST_F(ComPortTest, CloseFromANotificationWhileCloseWaits) {
  // The outer Close serves the notification already on its way, which closes too.
  int closes = 0;
  port_.OnTxEmpty = [&](TCustomComPort& sender) {
    ++closes;
    sender.Close();
  };
  OpenForTrack();
  line_->Raise({evTxEmpty});
  ASSERT_TRUE(hand_off_.AwaitDelivery());
  port_.Close();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(line_->IsOpen());
  port_.Open();
  EXPECT_TRUE(port_.Connected());
}

TEST_F(ComPortTest, ADeviceThatGoesAwayStopsTheThreadAndFailsTheNextOperation) {
  OpenForTrack();
  line_->BreakDown(EIO);
  EXPECT_EQ(Code([&] { port_.WriteText("x"); }), 2);
  EXPECT_EQ(last_message_, "WriteFile function failed (win error code: 5)");
  EXPECT_EQ(Code([&] { port_.SetDTR(true); }), 12);
  // Closing still closes, then reports that the transfers could not be aborted.
  EXPECT_EQ(Code([&] { port_.Close(); }), 5);
  EXPECT_FALSE(port_.Connected());
  EXPECT_FALSE(line_->IsOpen());
}

TEST_F(ComPortTest, ExceptionsOfHandlersStayOnTheUserInterfaceSide) {
  int rings = 0;
  port_.OnRing = [&](TCustomComPort& sender) {
    ++rings;
    sender.SetDTR(true);
  };
  OpenForTrack();
  line_->FailWith(FakeLine::Op::kDtr, EIO);
  line_->Ring();
  ASSERT_TRUE(Serve([&] { return rings == 1 && hand_off_.Errors().size() == 1; }));
  line_->Ring();  // the event thread goes on
  ASSERT_TRUE(Serve([&] { return rings == 2; }));
  EXPECT_EQ(hand_off_.Errors().front(), "EscapeCommFunction function failed (win error code: 5)");
}

}  // namespace
}  // namespace qarn2::serial
