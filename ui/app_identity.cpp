#include "ui/app_identity.h"

#include <QApplication>
#include <QString>

namespace qarn2::ui {

QIcon ProgramIcon() {
  QIcon built_in;
  for (int size : {16, 32, 48, 64, 128}) {
    built_in.addFile(QStringLiteral(":/qarn2/icon/%1.png").arg(size), QSize(size, size));
  }
  return QIcon::fromTheme(QString::fromLatin1(kIconName), built_in);
}

void SetDesktopIdentity(QApplication& application) {
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
  application.setWindowIcon(ProgramIcon());
}

}  // namespace qarn2::ui
