#include "qtadapter/qt_time_base.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace qarn2::qtadapter {

QtTimeBase::QtTimeBase(std::function<void()> on_tick) : timer_(std::make_unique<QTimer>()) {
  timer_->setInterval(10);
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_.get(), &QTimer::timeout, [tick = std::move(on_tick)] {
    if (tick) tick();
  });
  timer_->start();
}

QtTimeBase::~QtTimeBase() = default;

void QtTimeBase::HandlePendingEvents() {
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace qarn2::qtadapter
