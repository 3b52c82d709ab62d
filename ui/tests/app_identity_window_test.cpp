#include "ui/app_identity.h"

#include <QApplication>
#include <QDir>
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
  // An icon theme in the test's folder whose only icon is the program's, 48 pixels.
  void InstallThemeIcon() {
    const QString theme = themes_.path() + "/hicolor";
    ASSERT_TRUE(QDir().mkpath(theme + "/48x48/apps"));
    QFile index(theme + "/index.theme");
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
                "[48x48/apps]\nSize=48\nContext=Applications\nType=Fixed\n");
    index.close();
    ASSERT_TRUE(QFile::copy(":/qarn2/icon/48.png", theme + "/48x48/apps/" + kIconName + ".png"));
    QIcon::setThemeName("hicolor");
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

// Installed, the theme's icon stands; an uninstalled build shows the one built in,
// at every size a title bar or task bar asks for.
TEST_F(AppIdentityWindowTest, IconComesFromTheThemeOrElseFromTheProgram) {
  struct Case {
    bool theme_has_icon;
    QString name;  // of the icon in the theme, empty for the built-in one
    QList<QSize> sizes;
  };
  const Case cases[] = {
      {false, "", {{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}}},
      {true, kIconName, {{48, 48}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.theme_has_icon ? "theme icon" : "built-in icon");
    if (c.theme_has_icon) InstallThemeIcon();
    SetDesktopIdentity(*qApp);
    const QIcon icon = QApplication::windowIcon();
    EXPECT_EQ(icon.name(), c.name);
    EXPECT_EQ(icon.availableSizes(), c.sizes);
    for (int size : {16, 48}) EXPECT_TRUE(Drawn(icon, size)) << size;
  }
}

}  // namespace
}  // namespace qarn2::ui
