#include "ui/panel_focus.h"

#include <QApplication>
#include <QEvent>
#include <QRadioButton>

#include <algorithm>

namespace qarn2::ui {
namespace {

bool Takes(const QWidget* w) { return w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus); }

}  // namespace

void PanelFocus::Watch(QWidget* panel, std::vector<QWidget*> controls, QWidget* first) {
  panels_[panel] = Panel{std::move(controls), first, nullptr, false};
  panel->installEventFilter(this);
}

bool PanelFocus::Inside(QWidget* panel, const Panel& watched, const QWidget* w) const {
  if (w == nullptr) return false;
  if (w == panel || panel->isAncestorOf(w)) return true;
  return std::find(watched.controls.begin(), watched.controls.end(), w) != watched.controls.end();
}

QWidget* PanelFocus::FirstControl(QWidget* panel, const Panel& watched) const {
  if (watched.first && Takes(watched.first)) return watched.first;
  std::vector<QWidget*> controls = watched.controls;
  if (controls.empty()) {
    for (QWidget* child : panel->findChildren<QWidget*>()) controls.push_back(child);
  }
  for (QWidget* w : controls) {
    const auto* choice = qobject_cast<QRadioButton*>(w);
    if (choice && choice->isChecked() && Takes(w)) return w;
  }
  // In Tab order.
  for (QWidget* w = panel->window()->nextInFocusChain(); w != panel->window(); w = w->nextInFocusChain()) {
    if (w != panel && Inside(panel, watched, w) && Takes(w)) return w;
  }
  return Takes(panel) ? panel : nullptr;
}

bool PanelFocus::eventFilter(QObject* watched, QEvent* event) {
  auto* panel = static_cast<QWidget*>(watched);
  const auto it = panels_.find(panel);
  if (it == panels_.end()) return false;
  Panel& p = it->second;
  // Only the panel's own showing and hiding, not the window's.
  if (event->type() == QEvent::ShowToParent && !p.pending) {
    QWidget* focus = QApplication::focusWidget();
    if (Inside(panel, p, focus)) return false;
    p.before = focus;
    p.pending = true;
    QMetaObject::invokeMethod(this, [this] { Settle(); }, Qt::QueuedConnection);
  } else if (event->type() == QEvent::HideToParent) {
    p.pending = false;
    const QPointer<QWidget> back = std::exchange(p.before, nullptr);
    if (back && back->isVisible() && back->isEnabled()) back->setFocus(Qt::OtherFocusReason);
  }
  return false;
}

void PanelFocus::Settle() {
  for (auto& [panel, p] : panels_) {
    if (!std::exchange(p.pending, false) || !panel->isVisible()) continue;
    if (Inside(panel, p, QApplication::focusWidget())) continue;  // it chose for itself
    if (QWidget* first = FirstControl(panel, p)) first->setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace qarn2::ui
