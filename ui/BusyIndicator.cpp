#include "BusyIndicator.h"

#include <QPainter>
#include <QTimerEvent>

#include "Style.h"

namespace lumo::ui {

namespace {
constexpr int kSpokes = 12;
constexpr int kStepMilliseconds = 80;  // one turn a second, as the platform's
}  // namespace

BusyIndicator::BusyIndicator(Size size, QWidget* parent)
    : QProgressBar(parent), diameter_(size == Size::small ? 16 : 32) {
    setRange(0, 0);
    setTextVisible(false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BusyIndicator::sizeHint() const { return {diameter_, diameter_}; }

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = diameter_ / 2.0;
    painter.translate(width() / 2.0, height() / 2.0);
    const QColor ink = palette().color(QPalette::WindowText);
    for (int spoke = 0; spoke < kSpokes; ++spoke) {
        // The spoke at the current step is the darkest; the ones behind it fade.
        const int age = (step_ - spoke + kSpokes) % kSpokes;
        QColor color = ink;
        color.setAlphaF(static_cast<float>(0.85 - 0.6 * age / (kSpokes - 1)));
        painter.setPen(QPen(color, radius * 0.18, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -radius * 0.5), QPointF(0, -radius * 0.9));
        painter.rotate(360.0 / kSpokes);
    }
}

void BusyIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QProgressBar::timerEvent(event);
        return;
    }
    step_ = (step_ + 1) % kSpokes;
    update();
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QProgressBar::showEvent(event);
    timer_.start(kStepMilliseconds, this);
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QProgressBar::hideEvent(event);
    timer_.stop();
}

QWidget* busyIndicator(const QString& identifier, const QString& spokenName, BusyIndicator::Size size) {
    auto* spinner = new BusyIndicator(size);
    identify(spinner, identifier, spokenName);
    return spinner;
}

}  // namespace lumo::ui
