#pragma once

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace qarn2::ui {

class ClickLabel;

// The window's title (seven blanks after the name, six before the version).
inline constexpr char kFormTitle[] = "QARN2       DCC- Decoder Service      Version 0.8";

// The controls that stand directly on the window's client area, apart from the
// panels that have classes of their own (mode, port, hardware, CV box, try-out,
// speed curve).
// Positions are in pixels inside the client area, below the menu bar.
struct FormControls {
  QLabel* StaticText1;
  QLabel* Label2;
  ClickLabel* Infolabel;
  ClickLabel* Image1;     // the connection diagram
  QPlainTextEdit* Decoder;  // the decoder sheet
  QGroupBox* Resetbox;
  QPushButton* ResetOK;
  QPushButton* ResetNot;
};

// Builds them on `client` with their start texts and visibility.
FormControls BuildFormControls(QWidget* client);

}  // namespace qarn2::ui
