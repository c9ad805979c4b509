#include "StyledButton.h"

#include <QEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace lumo::ui {

namespace {
constexpr int kIconSpacing = 5;
constexpr int kPlainVerticalPadding = 3;
}  // namespace

StyledButton::StyledButton(const QString& title, ButtonStyle style, ControlSize size, QWidget* parent)
    : QPushButton(title, parent), style_(style), size_(size) {
    setCursor(Qt::PointingHandCursor);
    setAutoDefault(false);
    // Like the platform's buttons: a click does not take the keyboard focus,
    // Tab does, and then a focus ring shows.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, style == ButtonStyle::link);
    setButtonStyle(style);
}

void StyledButton::setButtonStyle(ButtonStyle style) {
    style_ = style;
    const bool large = size_ == ControlSize::large;
    switch (style) {
        case ButtonStyle::prominent:
        case ButtonStyle::bordered:
            setFont(textFont(large ? TextStyle::body : TextStyle::callout, style == ButtonStyle::prominent));
            break;
        case ButtonStyle::outlined: break;
        case ButtonStyle::plain: setFont(textFont(TextStyle::body)); break;
        case ButtonStyle::borderless: setFont(textFont(large ? TextStyle::body : TextStyle::callout)); break;
        case ButtonStyle::link: setFont(textFont(TextStyle::footnote)); break;
    }
    if (hasBezel()) {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    } else {
        setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
    updateGeometry();
    update();
}

void StyledButton::setCornerRadius(int radius) {
    cornerRadius_ = radius;
    update();
}

void StyledButton::setOnCard(bool onCard) {
    onCard_ = onCard;
    update();
}

bool StyledButton::hasBezel() const {
    return style_ == ButtonStyle::prominent || style_ == ButtonStyle::bordered || style_ == ButtonStyle::outlined;
}

int StyledButton::horizontalPadding() const {
    if (!hasBezel()) return 0;
    return size_ == ControlSize::large ? 18 : 12;
}

QSize StyledButton::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    int width = metrics.horizontalAdvance(text());
    int height = metrics.height();
    if (!icon().isNull()) {
        width += iconSize().width() + (text().isEmpty() ? 0 : kIconSpacing);
        height = std::max(height, iconSize().height());
    }
    width += 2 * horizontalPadding();
    if (hasBezel()) {
        height = size_ == ControlSize::large ? 32 : 24;
    } else if (style_ == ButtonStyle::plain) {
        height += 2 * kPlainVerticalPadding;
    }
    return QSize(width, height);
}

QSize StyledButton::minimumSizeHint() const { return sizeHint(); }

QColor StyledButton::fillColor() const {
    const bool pressed = isDown();
    const QColor ink = palette().color(QPalette::WindowText);
    const auto inkAt = [&ink](double alpha) {
        QColor color = ink;
        color.setAlphaF(static_cast<float>(alpha));
        return color;
    };
    const bool dark = isDark(palette());
    switch (style_) {
        case ButtonStyle::prominent: {
            if (!isEnabled()) return inkAt(0.24);
            const QColor accent = textRoleColor(TextRole::accent, palette());
            return pressed ? accent.darker(120) : accent;
        }
        case ButtonStyle::bordered:
            if (pressed) return inkAt(dark ? 0.26 : 0.14);
            if (onCard_) return inkAt(dark ? 0.2 : 0.08);
            return inkAt(dark ? 0.16 : 0.06);
        case ButtonStyle::outlined: return pressed ? inkAt(0.08) : QColor(Qt::transparent);
        case ButtonStyle::plain:
        case ButtonStyle::borderless:
        case ButtonStyle::link: break;
    }
    return Qt::transparent;
}

QColor StyledButton::textColor() const {
    const QPalette& colours = palette();
    switch (style_) {
        case ButtonStyle::prominent: {
            QColor color = colours.color(QPalette::HighlightedText);
            if (!isEnabled()) color.setAlphaF(0.85f);
            return color;
        }
        case ButtonStyle::bordered:
        case ButtonStyle::outlined:
        case ButtonStyle::plain:
            return textRoleColor(isEnabled() ? TextRole::primary : TextRole::secondary, colours);
        case ButtonStyle::borderless:
        case ButtonStyle::link: {
            QColor color = style_ == ButtonStyle::link ? colours.color(QPalette::Link)
                                                       : textRoleColor(TextRole::accent, colours);
            if (!isEnabled()) color.setAlpha(110);
            return color;
        }
    }
    return textRoleColor(TextRole::primary, colours);
}

void StyledButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    const QColor fill = fillColor();
    if (fill.alpha() > 0 || style_ == ButtonStyle::outlined) {
        QColor outline = palette().color(QPalette::WindowText);
        outline.setAlphaF(0.24f);  // the secondary colour at 40 %
        painter.setPen(style_ == ButtonStyle::outlined ? QPen(outline, 1) : QPen(Qt::NoPen));
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, cornerRadius_, cornerRadius_);
    }
    if (hasFocus() && focusFromKeyboard_) {
        QColor ring = textRoleColor(TextRole::accent, palette());
        ring.setAlpha(128);
        painter.setPen(QPen(ring, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_, cornerRadius_);
    }

    // Bezel buttons centre their content; the others start at the left. A
    // button made narrower than its padding allows (a score chip) gives up
    // padding before it elides.
    const QFontMetrics metrics = fontMetrics();
    const bool hasIcon = !icon().isNull();
    const int iconWidth = hasIcon ? iconSize().width() + (text().isEmpty() ? 0 : kIconSpacing) : 0;
    QString shown = text();
    int textWidth = metrics.horizontalAdvance(shown);
    const int padding = std::clamp((width() - iconWidth - textWidth) / 2, 0, horizontalPadding());
    QRect content = rect().adjusted(padding, 0, -padding, 0);
    const int room = std::max(0, content.width() - iconWidth);
    if (textWidth > room) {
        shown = metrics.elidedText(shown, Qt::ElideRight, room);
        textWidth = metrics.horizontalAdvance(shown);
    }
    const int contentWidth = iconWidth + textWidth;
    if (hasBezel()) content.setLeft(content.left() + std::max(0, (content.width() - contentWidth) / 2));

    if (hasIcon) {
        const QSize size = iconSize();
        const QRect iconRect(content.left(), (height() - size.height()) / 2, size.width(), size.height());
        icon().paint(&painter, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        content.setLeft(content.left() + iconWidth);
    }
    QFont font = painter.font();
    if (style_ == ButtonStyle::link && underMouse() && isEnabled()) {
        font.setUnderline(true);
        painter.setFont(font);
    }
    painter.setPen(textColor());
    painter.drawText(content, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

bool StyledButton::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusIn: {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            focusFromKeyboard_ =
                reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
            break;
        }
        case QEvent::HoverEnter:
        case QEvent::HoverLeave:
        case QEvent::EnabledChange:
        case QEvent::PaletteChange: update(); break;
        default: break;
    }
    return QPushButton::event(event);
}

}  // namespace lumo::ui
