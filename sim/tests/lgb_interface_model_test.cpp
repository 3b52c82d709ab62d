#include "sim/lgb_interface_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qarn2::sim {
namespace {

using namespace std::chrono_literals;

// `bytes` followed by their XOR, as the program builds its requests.
std::string Message(std::initializer_list<int> bytes) {
  std::string text;
  char check = 0;
  for (int b : bytes) {
    text += static_cast<char>(b);
    check = static_cast<char>(check ^ b);
  }
  return text + check;
}

std::string CharactersOf(const std::vector<TimedReply>& replies) {
  std::string text;
  for (const TimedReply& reply : replies) text += reply.text;
  return text;
}

TEST(LgbInterfaceModelTest, RequestsAndReplies) {
  struct Case {
    const char* name;
    LgbSettings settings;
    std::string request;
    std::string reply;
    int cv;  // and its value afterwards
    int value;
  };
  const std::string kGreeting("\x10\x86", 2);
  const std::string kRead29 = Message({0x8C, 0x1D, 0x00});
  const std::string kWrite29 = Message({0x88, 0x1D, 0x05});
  const LgbSettings plain;
  const auto with = [](LgbReplyFault fault) { return LgbSettings{.fault = fault}; };
  const Case cases[] = {
      {"greeting", plain, kGreeting, "\x11\xEB\xFA", 29, 6},
      {"greeting answer seen", plain, "\x96\x12\x12", "", 29, 6},
      {"noise before the greeting", plain, "\x55\x00" + kGreeting, "\x11\xEB\xFA", 29, 6},
      {"read", plain, kRead29, Message({0x9C, 0x1D, 0x06}), 29, 6},
      {"write", plain, kWrite29, Message({0x98, 0x1D, 0x01}), 29, 5},
      {"write read-only", plain, Message({0x88, 0x07, 0x05}), Message({0x98, 0x07, 0x00}), 7, 21},
      {"factory reset", plain, Message({0x88, 0x08, 0x08}), Message({0x98, 0x08, 0x01}), 29, 6},
      {"bad check byte", plain, std::string("\x88\x1D\x05\x00", 4), "", 29, 6},
      {"silent", LgbSettings{.silent = true}, kWrite29, "", 29, 6},
      {"corrupt check", with(LgbReplyFault::kCorruptCheck), kRead29,
       std::string("\x9C\x1D\x06") + static_cast<char>(~(0x9C ^ 0x1D ^ 0x06)), 29, 6},
      {"corrupt greeting", with(LgbReplyFault::kCorruptCheck), kGreeting, "\x11\xEB\x05", 29, 6},
      {"wrong CV", with(LgbReplyFault::kWrongCv), kRead29, Message({0x9C, 0x1E, 0x06}), 29, 6},
      {"wrong kind", with(LgbReplyFault::kWrongKind), kWrite29, Message({0x99, 0x1D, 0x01}), 29, 5},
      {"truncated", with(LgbReplyFault::kTruncated), kRead29, "\x9C\x1D", 29, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DecoderModel decoder;
    decoder.SetCv(29, 6);
    decoder.SetCv(8, 99);  // so that a factory reset shows
    LgbInterfaceModel lgb(decoder, c.settings);
    EXPECT_EQ(CharactersOf(lgb.OnCharacters(1s, c.request)), c.reply);
    EXPECT_EQ(decoder.Cv(c.cv), c.value);
    EXPECT_EQ(decoder.Cv(8), c.name == std::string("factory reset") ? 13 : 99);
  }
}

TEST(LgbInterfaceModelTest, ReplyTiming) {
  DecoderModel decoder;
  LgbInterfaceModel lgb(decoder, LgbSettings{.read_delay = 80ms, .write_delay = 30ms});
  const SimTime t = 5s;
  const SimTime c = LgbInterfaceModel::kCharacterTime;
  // Two requests in one go: the write's reply waits until the read's has gone out.
  // Each reply reaches the program whole, when its last character is in.
  const auto replies =
      lgb.OnCharacters(t, Message({0x8C, 0x01, 0x00}) + Message({0x88, 0x02, 0x07}));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].text, Message({0x9C, 0x01, 0x03}));
  EXPECT_EQ(replies[0].time, t + 80ms + 4 * c);
  EXPECT_EQ(replies[1].text, Message({0x98, 0x02, 0x01}));
  EXPECT_EQ(replies[1].time, t + 80ms + 8 * c);

  // Cut short, a reply still comes in one piece; the greeting is never cut.
  lgb.SetSettings(LgbSettings{.read_delay = 80ms, .reply_limit = 3});
  const auto short_reply = lgb.OnCharacters(t + 1s, Message({0x8C, 0x01, 0x00}));
  ASSERT_EQ(short_reply.size(), 1u);
  EXPECT_EQ(short_reply[0].text, Message({0x9C, 0x01, 0x03}).substr(0, 3));
  EXPECT_EQ(short_reply[0].time, t + 1s + 80ms + 3 * c);
  EXPECT_EQ(CharactersOf(lgb.OnCharacters(t + 2s, std::string("\x10\x86", 2))), "\x11\xEB\xFA");
  EXPECT_NEAR(std::chrono::duration<double>(c).count(), 10.0 / 9600, 1e-9);
}

TEST(LgbInterfaceModelTest, SplitMessages) {
  DecoderModel decoder;
  LgbInterfaceModel lgb(decoder);
  const std::string read = Message({0x8C, 0x01, 0x00});
  EXPECT_TRUE(lgb.OnCharacters(10ms, read.substr(0, 1)).empty());
  EXPECT_TRUE(lgb.OnCharacters(11ms, read.substr(1, 2)).empty());
  const auto replies = lgb.OnCharacters(12ms, read.substr(3));
  EXPECT_EQ(CharactersOf(replies), Message({0x9C, 0x01, 0x03}));
  EXPECT_EQ(replies.front().time, 12ms + 50ms + 4 * LgbInterfaceModel::kCharacterTime);

  // A message left unfinished too long is dropped; the next one is answered.
  EXPECT_TRUE(lgb.OnCharacters(1s, read.substr(0, 2)).empty());
  EXPECT_EQ(CharactersOf(lgb.OnCharacters(2s, read)), Message({0x9C, 0x01, 0x03}));
  const auto log = lgb.TakeLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].text, "incomplete message 8C 01 (dropped)");
  EXPECT_EQ(log[2].text, "read CV 1 = 3");
}

}  // namespace
}  // namespace qarn2::sim
