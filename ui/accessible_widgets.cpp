#include "ui/accessible_widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLatin1StringView>

#include <algorithm>
#include <cmath>

#include "ui/click_label.h"
#include "ui/entry_bar.h"
#include "ui/live_label.h"

namespace qarn2::ui {
namespace {

class AccessibleEntryBar : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit AccessibleEntryBar(EntryBar* bar) : QAccessibleWidget(bar, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return QString::number(Bar()->Entry());
    return QAccessibleWidget::text(t);
  }

  QVariant currentValue() const override { return Bar()->Entry(); }
  QVariant minimumValue() const override { return Bar()->minimum(); }
  QVariant maximumValue() const override { return Bar()->maximum(); }
  QVariant minimumStepSize() const override { return Bar()->singleStep(); }

  // AT-SPI sends a double. A bar the user cannot reach (hidden with its panel, or
  // disabled) is not moved either.
  void setCurrentValue(const QVariant& value) override {
    bool is_number = false;
    const double entry = value.toDouble(&is_number);
    if (!is_number || !std::isfinite(entry) || !Bar()->isVisible() || !Bar()->isEnabled()) return;
    const double highest = Bar()->maximum();
    const double lowest = Bar()->minimum();
    Bar()->ShowEntry(static_cast<int>(std::lround(std::clamp(entry, lowest, highest))));
  }

 private:
  EntryBar* Bar() const { return static_cast<EntryBar*>(widget()); }
};

// A label of ours, read as the text it shows (or its picture's accessible name), never
// as the caption of the box around it.
class AccessibleLabel : public QAccessibleWidget {
 public:
  explicit AccessibleLabel(QLabel* label) : QAccessibleWidget(label) {}

  QAccessible::Role role() const override {
    return Label()->pixmap().isNull() ? QAccessible::StaticText : QAccessible::Graphic;
  }

  QString text(QAccessible::Text t) const override {
    if (t != QAccessible::Name) return QAccessibleWidget::text(t);
    const QString name = widget()->accessibleName();
    return name.isEmpty() ? Label()->text() : name;
  }

 private:
  QLabel* Label() const { return static_cast<QLabel*>(widget()); }
};

class AccessibleClickLabel : public AccessibleLabel {
 public:
  explicit AccessibleClickLabel(ClickLabel* label) : AccessibleLabel(label) {}

  QStringList actionNames() const override { return QAccessibleWidget::actionNames() << pressAction(); }

  void doAction(const QString& action) override {
    if (action != pressAction()) {
      QAccessibleWidget::doAction(action);
      return;
    }
    if (Label()->isVisible() && Label()->isEnabled() && Label()->OnClick) Label()->OnClick();
  }

  QStringList keyBindingsForAction(const QString& action) const override {
    if (action == pressAction()) return {"Space"};
    return QAccessibleWidget::keyBindingsForAction(action);
  }

 private:
  ClickLabel* Label() const { return static_cast<ClickLabel*>(widget()); }
};

// Asked with each class name of `object`'s Qt class and its bases, most derived first.
// Neither widget class has a meta-object of its own, so they come as their Qt base.
QAccessibleInterface* OwnWidgets(const QString& class_name, QObject* object) {
  if (class_name == QLatin1StringView("QScrollBar")) {
    if (auto* bar = dynamic_cast<EntryBar*>(object)) return new AccessibleEntryBar(bar);
  } else if (class_name == QLatin1StringView("QLabel")) {
    if (auto* label = dynamic_cast<ClickLabel*>(object)) return new AccessibleClickLabel(label);
    if (auto* label = dynamic_cast<LiveLabel*>(object)) return new AccessibleLabel(label);
  }
  return nullptr;
}

}  // namespace

void InstallAccessibleWidgets() {
  static const bool installed = [] {
    QAccessible::installFactory(&OwnWidgets);
    return true;
  }();
  (void)installed;
}

}  // namespace qarn2::ui
