// BusyIndicator: the platform's indeterminate spinner for work of unknown
// length. A progress bar with no range to a screen reader ("busy"), drawn as
// twelve fading spokes that turn only while the spinner is on screen.
#pragma once

#include <QBasicTimer>
#include <QProgressBar>

namespace lumo::ui {

class BusyIndicator : public QProgressBar {
    Q_OBJECT
public:
    // Small (16 px) beside a line of text, regular (32 px) on its own.
    enum class Size { small, regular };
    explicit BusyIndicator(Size size = Size::small, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool isSpinning() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int diameter_;
    int step_ = 0;
    QBasicTimer timer_;
};

// A spinner with its accessibility identifier and spoken name.
QWidget* busyIndicator(const QString& identifier, const QString& spokenName,
                       BusyIndicator::Size size = BusyIndicator::Size::small);

}  // namespace lumo::ui
