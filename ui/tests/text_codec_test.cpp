#include "ui/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace qarn2::ui {
namespace {

TEST(TextCodecTest, EveryByteIsOneCharacterOfItsOwn) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const QString text = FromCp1252(all);
  ASSERT_EQ(text.size(), 256);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(text.indexOf(text[b]), b) << b;
  }
  EXPECT_EQ(ToCp1252(text), all);
  EXPECT_EQ(text[0xE4].unicode(), u'\u00E4');
  EXPECT_EQ(text[0x80].unicode(), u'\u20AC');
  EXPECT_EQ(ToCp1252(QString::fromUtf8("\u20ac und \u0142")), "\x80 und ?");
}

}  // namespace
}  // namespace qarn2::ui
