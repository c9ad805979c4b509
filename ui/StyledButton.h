// A push button drawn in one of the platform's button styles. It paints
// itself instead of going through a style sheet: a style sheet per button
// costs a style-sheet engine per widget, and the window has dozens of them.
#pragma once

#include <QColor>
#include <QPushButton>
#include <optional>

#include "Style.h"

namespace lumo::ui {

class StyledButton : public QPushButton {
public:
    StyledButton(const QString& title, ButtonStyle style, ControlSize size = ControlSize::regular,
                 QWidget* parent = nullptr);

    ButtonStyle buttonStyle() const { return style_; }
    void setButtonStyle(ButtonStyle style);
    void setCornerRadius(int radius);
    // The fill of a bordered button at rest, for buttons that sit on a card.
    void setRestingFill(const QColor& fill);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool hasBezel() const;
    int horizontalPadding() const;
    QColor fillColor() const;
    QColor textColor() const;

    ButtonStyle style_;
    ControlSize size_;
    int cornerRadius_ = 7;
    std::optional<QColor> restingFill_;
    // The focus ring shows only when the keyboard brought the focus here.
    bool focusFromKeyboard_ = false;
};

}  // namespace lumo::ui
