#include "ui/app_identity.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

// The window started as main() starts it, with the icon theme's folders the test's own.
class AppIdentityWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(themes_.isValid());
    name_ = QApplication::applicationName();
    search_paths_ = QIcon::themeSearchPaths();
    theme_ = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes_.path()});
  }
  void TearDown() override {
    QIcon::setThemeSearchPaths(search_paths_);
    QIcon::setThemeName(theme_);
    QApplication::setWindowIcon(QIcon());
    QGuiApplication::setDesktopFileName(QString());
    QApplication::setApplicationName(name_);
  }
  // The pixels of `icon` at `size` are not all transparent: the drawing is there.
  static bool Drawn(const QIcon& icon, int size) {
    const QImage image = icon.pixmap(size, size).toImage();
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (qAlpha(image.pixel(x, y)) != 0) return true;
      }
    }
    return false;
  }

  QTemporaryDir themes_;
  QString name_;
  QStringList search_paths_;
  QString theme_;
};

// The desktop matches the window to its entry by the entry's name (Wayland) or by the
// window's class (X11, StartupWMClass), and shows the entry's icon.
TEST_F(AppIdentityWindowTest, WindowIsKnownByItsDesktopEntry) {
  SetDesktopIdentity(*qApp);
  Start();
  const QString entry_path = QString(QARN2_PACKAGING_DIR) + "/" + QGuiApplication::desktopFileName() + ".desktop";
  ASSERT_TRUE(QFile::exists(entry_path)) << entry_path.toStdString();
  QSettings entry(entry_path, QSettings::IniFormat);
  entry.beginGroup("Desktop Entry");
  EXPECT_EQ(entry.value("StartupWMClass").toString(), QApplication::applicationName());
  EXPECT_EQ(entry.value("Icon").toString(), QString(kIconName));
  EXPECT_FALSE(form_->windowIcon().isNull());
  EXPECT_TRUE(Drawn(form_->windowIcon(), 32));
}

}  // namespace
}  // namespace qarn2::ui
