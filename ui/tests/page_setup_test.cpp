// The printer set-up where the printing system has no printer: the program's own
// page dialog, answered from inside its event loop as the user would.

#include "ui/page_setup_dialog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "ui/file_dialogs.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

// Everything Qt reports (warnings included) while it lives.
class QtMessages {
 public:
  QtMessages() : previous_(qInstallMessageHandler(&Keep)) { current_ = this; }
  ~QtMessages() {
    qInstallMessageHandler(previous_);
    current_ = nullptr;
  }
  // The messages that name the page set-up or its complaint about the printer.
  std::vector<std::string> AboutPageSetup() const {
    std::vector<std::string> found;
    for (const std::string& m : texts_) {
      if (m.find("QPageSetupDialog") != std::string::npos || m.find("non-native") != std::string::npos) {
        found.push_back(m);
      }
    }
    return found;
  }

 private:
  static void Keep(QtMsgType, const QMessageLogContext&, const QString& text) {
    current_->texts_.push_back(text.toStdString());
  }
  static inline QtMessages* current_ = nullptr;
  QtMessageHandler previous_;
  std::vector<std::string> texts_;
};

// Runs `answer` on the next modal dialog as soon as it is open (inside its own event
// loop); a dialog that never opens is a failure.
void WhenDialogOpens(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, answer = std::move(answer), tries = 0]() mutable {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr && ++tries < 400) return;
    timer->stop();
    timer->deleteLater();
    if (dialog == nullptr) {
      ADD_FAILURE() << "no dialog opened";
      return;
    }
    answer(dialog);
  });
  timer->start();
}

// The user at the page dialog.
struct PageChoice {
  QPageSize::PageSizeId paper;
  bool landscape;
  double left, top, right, bottom;  // mm
};

template <typename W>
W* Field(QWidget* dialog, const char* name) {
  W* widget = dialog->findChild<W*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

void Fill(QWidget* dialog, const PageChoice& choice) {
  auto* paper = Field<QComboBox>(dialog, "Papierformat");
  const int index = paper->findData(static_cast<int>(choice.paper));
  ASSERT_GE(index, 0);
  paper->setCurrentIndex(index);
  Field<QRadioButton>(dialog, choice.landscape ? "Querformat" : "Hochformat")->click();
  Field<QDoubleSpinBox>(dialog, "RandLinks")->setValue(choice.left);
  Field<QDoubleSpinBox>(dialog, "RandOben")->setValue(choice.top);
  Field<QDoubleSpinBox>(dialog, "RandRechts")->setValue(choice.right);
  Field<QDoubleSpinBox>(dialog, "RandUnten")->setValue(choice.bottom);
}

void Press(QWidget* dialog, QDialogButtonBox::StandardButton which) {
  auto* buttons = dialog->findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr) << dialog->metaObject()->className();
  buttons->button(which)->click();
}

// Fills in the dialog and confirms it, if it is the program's own.
std::function<void(QWidget*)> ChoosePage(const PageChoice& choice) {
  return [choice](QWidget* dialog) {
    if (dynamic_cast<PageSetupDialog*>(dialog) == nullptr) {
      ADD_FAILURE() << "another dialog: " << dialog->metaObject()->className();
      dialog->close();
      return;
    }
    Fill(dialog, choice);
    Press(dialog, QDialogButtonBox::Ok);
  };
}

QPageLayout Layout(QPageSize::PageSizeId paper, bool landscape, QMarginsF margins_mm) {
  return QPageLayout(QPageSize(paper), landscape ? QPageLayout::Landscape : QPageLayout::Portrait, margins_mm,
                     QPageLayout::Millimeter);
}

std::unique_ptr<QPrinter> PdfPrinter() {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  return printer;
}

TEST(PageSetupTest, APdfPrinterGetsTheChosenPageWithoutAComplaint) {
  const std::unique_ptr<QPrinter> printer = PdfPrinter();
  QtFileDialogs dialogs;
  QtMessages messages;
  QString title;
  WhenDialogOpens([&](QWidget* dialog) {
    title = dialog->windowTitle();
    ChoosePage({QPageSize::A5, true, 15, 10, 5, 20})(dialog);
  });
  EXPECT_TRUE(dialogs.PrinterSetup(nullptr, *printer));
  EXPECT_EQ(title, "Drucker einrichten");
  EXPECT_EQ(messages.AboutPageSetup(), std::vector<std::string>{});
  const QPageLayout expected = Layout(QPageSize::A5, true, {15, 10, 5, 20});
  EXPECT_TRUE(printer->pageLayout().isEquivalentTo(expected)) << printer->pageLayout().fullRect().width();
  EXPECT_EQ(printer->pageLayout().orientation(), QPageLayout::Landscape);
}

TEST(PageSetupTest, TheDialogStartsFromThePrintersPageAndCancelKeepsIt) {
  const std::unique_ptr<QPrinter> printer = PdfPrinter();
  const QPageLayout letter(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(10, 20, 30, 40),
                           QPageLayout::Point);
  ASSERT_TRUE(printer->setPageLayout(letter));
  QtFileDialogs dialogs;
  WhenDialogOpens([](QWidget* dialog) {
    EXPECT_EQ(Field<QComboBox>(dialog, "Papierformat")->currentData().toInt(), QPageSize::Letter);
    EXPECT_TRUE(Field<QRadioButton>(dialog, "Hochformat")->isChecked());
    EXPECT_DOUBLE_EQ(Field<QDoubleSpinBox>(dialog, "RandLinks")->value(), 3.5);   // 10 pt
    EXPECT_DOUBLE_EQ(Field<QDoubleSpinBox>(dialog, "RandUnten")->value(), 14.1);  // 40 pt
    Fill(dialog, {QPageSize::A3, true, 1, 2, 3, 4});
    Press(dialog, QDialogButtonBox::Cancel);
  });
  EXPECT_FALSE(dialogs.PrinterSetup(nullptr, *printer));
  EXPECT_TRUE(printer->pageLayout().isEquivalentTo(letter));

  // Confirmed as it stands, the page stays exactly what it was: the fields' rounding
  // does not creep into the margins.
  WhenDialogOpens([](QWidget* dialog) { Press(dialog, QDialogButtonBox::Ok); });
  EXPECT_TRUE(dialogs.PrinterSetup(nullptr, *printer));
  EXPECT_TRUE(printer->pageLayout().isEquivalentTo(letter));
  EXPECT_EQ(printer->pageLayout().margins(QPageLayout::Point), QMarginsF(10, 20, 30, 40));
}

TEST(PageSetupTest, APaperOfItsOwnIsKeptAndMarginsWithoutRoomAreRefused) {
  const std::unique_ptr<QPrinter> printer = PdfPrinter();
  const QPageSize label(QSizeF(80, 80), QPageSize::Millimeter);
  ASSERT_TRUE(printer->setPageLayout(
      QPageLayout(label, QPageLayout::Portrait, QMarginsF(5, 5, 5, 5), QPageLayout::Millimeter)));
  PageSetupDialog dialog(*printer, nullptr);
  auto* paper = Field<QComboBox>(&dialog, "Papierformat");
  EXPECT_EQ(paper->currentIndex(), 0);
  EXPECT_EQ(paper->count(), 7);  // its own paper before the six offered
  Field<QDoubleSpinBox>(&dialog, "RandLinks")->setValue(40);
  Field<QDoubleSpinBox>(&dialog, "RandRechts")->setValue(40);
  QString warning;
  WhenDialogOpens([&](QWidget* box) {
    warning = static_cast<QMessageBox*>(box)->text();
    box->close();
  });
  dialog.accept();
  EXPECT_TRUE(warning.contains("keinen Platz")) << warning.toStdString();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(printer->pageLayout().margins(QPageLayout::Millimeter), QMarginsF(5, 5, 5, 5));

  Field<QDoubleSpinBox>(&dialog, "RandRechts")->setValue(30);
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(printer->pageLayout().pageSize().isEquivalentTo(label));
  EXPECT_EQ(printer->pageLayout().margins(QPageLayout::Millimeter), QMarginsF(40, 5, 30, 5));
}

// The window's own dialogs, but a print dialog that prints into `pdf` at once.
struct PrintIntoFile : QtFileDialogs {
  bool Print(QWidget*, QPrinter& printer) override {
    layout = printer.pageLayout();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    return true;
  }
  QString pdf;
  QPageLayout layout;
};

// The first page's size in points, as the PDF file gives it.
QSizeF MediaBox(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string pdf{std::istreambuf_iterator<char>(in), {}};
  const std::size_t at = pdf.find("/MediaBox [");
  if (at == std::string::npos) return {};
  std::istringstream numbers(pdf.substr(at + 11, 80));
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  numbers >> x0 >> y0 >> x1 >> y1;
  return {x1 - x0, y1 - y0};
}

class PageSetupWindowTest : public Form1Fixture {};

TEST_F(PageSetupWindowTest, TheMenusSetUpReachesThePrintout) {
  // Where the printing system has a printer, the window's printer is that one and the
  // set-up is the system's dialog.
  if (!QPrinterInfo::availablePrinterNames().isEmpty()) GTEST_SKIP() << "the system has a printer";
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  auto* print = new PrintIntoFile;
  print->pdf = folder.filePath("blatt.pdf");
  dialogs_.reset(print);
  Start();
  QtMessages messages;
  WhenDialogOpens(ChoosePage({QPageSize::A5, true, 12, 8, 12, 8}));
  Choose("Druckereinrichten1");
  Find<QAction>("druckenDecoder")->setEnabled(true);  // as after opening a file
  Choose("druckenDecoder");

  EXPECT_TRUE(print->layout.isEquivalentTo(Layout(QPageSize::A5, true, {12, 8, 12, 8})));
  const QSizeF page = MediaBox(print->pdf.toStdString());
  EXPECT_NEAR(page.width(), 595.3, 0.5);  // 210 mm across
  EXPECT_NEAR(page.height(), 419.5, 0.5);  // 148 mm down
  EXPECT_EQ(messages.AboutPageSetup(), std::vector<std::string>{});
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
