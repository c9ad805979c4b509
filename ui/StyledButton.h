// A push button drawn in one of the platform's button styles. It paints
// itself instead of going through a style sheet: a style sheet per button
// costs a style-sheet engine per widget, and the window has dozens of them.
#pragma once

#include <QColor>
#include <QPushButton>

#include "Style.h"

namespace lumo::ui {

class StyledButton : public QPushButton {
public:
    StyledButton(const QString& title, ButtonStyle style, ControlSize size = ControlSize::regular,
                 QWidget* parent = nullptr);

    ButtonStyle buttonStyle() const { return style_; }
    void setButtonStyle(ButtonStyle style);
    void setCornerRadius(int radius);
    // A bordered button that sits on a card takes a stronger fill at rest.
    void setOnCard(bool onCard);

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
    bool onCard_ = false;
    // The focus ring shows only when the keyboard brought the focus here.
    bool focusFromKeyboard_ = false;
};

}  // namespace lumo::ui
