#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>
#include <vector>

namespace qarn2::ui {

// Keeps the keyboard focus with what the user sees. A panel shown over the sheet takes
// the focus (its checked choice, else its first control, else the panel itself), so
// that typing never lands in the text it covers and a screen reader says what opened;
// hidden again, it gives the focus back to where it was. The focus moves once the
// command that opened the panel has shown all of it (its controls are often shown
// after its frame), when the event loop next runs.
class PanelFocus : public QObject {
 public:
  explicit PanelFocus(QObject* parent) : QObject(parent) {}
  // `controls`: the panel's controls where they are not its children (its frame's
  // children when empty). `first`: where the focus goes in it instead of the checked
  // choice or first control (a question whose harmless answer Enter should give).
  void Watch(QWidget* panel, std::vector<QWidget*> controls = {}, QWidget* first = nullptr);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Panel {
    std::vector<QWidget*> controls;
    QWidget* first = nullptr;
    QPointer<QWidget> before;  // the focus when it was shown
    bool pending = false;      // shown, the focus not yet moved in
  };
  bool Inside(QWidget* panel, const Panel& watched, const QWidget* w) const;
  QWidget* FirstControl(QWidget* panel, const Panel& watched) const;
  void Settle();

  std::map<QWidget*, Panel> panels_;
};

}  // namespace qarn2::ui
