#include "Style.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStyleFactory>

namespace lumo::ui {

namespace {

// Point sizes of the macOS text styles, used as pixel sizes so that a page
// measures the same on every screen the screenshots are taken on.
int pixelSize(TextStyle style) {
    switch (style) {
        case TextStyle::largeTitle: return 26;
        case TextStyle::headline: return 13;
        case TextStyle::subheadline: return 11;
        case TextStyle::body: return 13;
        case TextStyle::callout: return 12;
        case TextStyle::footnote: return 10;
        case TextStyle::caption: return 10;
    }
    return 13;
}

QString rgba(const QColor& color) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(color.alphaF(), 'f', 3));
}

}  // namespace

QFont textFont(TextStyle style, bool semibold) {
    QFont result = QApplication::font();
    result.setPixelSize(pixelSize(style));
    if (style == TextStyle::headline || semibold) result.setWeight(QFont::DemiBold);
    return result;
}

QColor primaryColor() { return QColor(0, 0, 0, 217); }
QColor secondaryColor() { return QColor(0, 0, 0, 128); }
QColor accentColor() { return QColor(0, 122, 255); }
QColor quaternaryFill() { return QColor(0, 0, 0, 13); }

void identify(QWidget* widget, const QString& identifier, const QString& spokenName) {
    widget->setObjectName(identifier);
    widget->setAccessibleName(spokenName.isEmpty() ? identifier : spokenName);
}

QLabel* label(const QString& text, TextStyle style, bool secondary, bool semibold) {
    auto* result = new QLabel(text);
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(true);
    result->setFont(textFont(style, semibold));
    result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    result->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(secondary ? secondaryColor() : primaryColor())));
    return result;
}

QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary) {
    QLabel* result = label(markdown, style, secondary);
    result->setTextFormat(Qt::MarkdownText);
    return result;
}

QPushButton* button(const QString& title, ButtonStyle style, ControlSize size) {
    auto* result = new QPushButton(title);
    const bool large = size == ControlSize::large;
    const int height = large ? 32 : 24;
    result->setFont(textFont(large ? TextStyle::body : TextStyle::callout, style == ButtonStyle::prominent));
    result->setCursor(Qt::PointingHandCursor);
    result->setAutoDefault(false);
    QString sheet;
    switch (style) {
        case ButtonStyle::prominent:
            sheet = QStringLiteral(
                        "QPushButton { background: %1; color: white; border: none; border-radius: 7px;"
                        " padding: 0 %2px; min-height: %3px; max-height: %3px; }"
                        "QPushButton:pressed { background: %4; }"
                        "QPushButton:disabled { background: %5; color: rgba(255,255,255,0.85); }")
                        .arg(rgba(accentColor()))
                        .arg(large ? 18 : 12)
                        .arg(height)
                        .arg(rgba(accentColor().darker(120)))
                        .arg(rgba(QColor(0, 0, 0, 60)));
            break;
        case ButtonStyle::bordered:
            sheet = QStringLiteral(
                        "QPushButton { background: rgba(0,0,0,0.06); color: %1; border: none; border-radius: 7px;"
                        " padding: 0 %2px; min-height: %3px; max-height: %3px; }"
                        "QPushButton:pressed { background: rgba(0,0,0,0.14); }"
                        "QPushButton:disabled { color: %4; }")
                        .arg(rgba(primaryColor()))
                        .arg(large ? 18 : 12)
                        .arg(height)
                        .arg(rgba(secondaryColor()));
            break;
        case ButtonStyle::plain:
            sheet = QStringLiteral(
                        "QPushButton { background: transparent; color: %1; border: none; text-align: left;"
                        " padding: 3px 0; }")
                        .arg(rgba(primaryColor()));
            result->setFont(textFont(TextStyle::body));
            break;
        case ButtonStyle::borderless:
            sheet = QStringLiteral("QPushButton { background: transparent; color: %1; border: none; padding: 0; }")
                        .arg(rgba(accentColor()));
            break;
        case ButtonStyle::link:
            sheet = QStringLiteral(
                        "QPushButton { background: transparent; color: %1; border: none; padding: 0;"
                        " text-align: left; }"
                        "QPushButton:hover { text-decoration: underline; }")
                        .arg(rgba(accentColor()));
            result->setFont(textFont(TextStyle::footnote));
            break;
    }
    result->setStyleSheet(sheet);
    if (style == ButtonStyle::prominent || style == ButtonStyle::bordered) {
        result->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    } else {
        result->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    }
    return result;
}

namespace {
QPixmap symbolCanvas() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return pixmap;
}
}  // namespace

QIcon radioSymbol(bool selected) {
    QPixmap pixmap = symbolCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer(3, 3, 26, 26);
    if (selected) {
        painter.setPen(QPen(accentColor(), 2.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(outer);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accentColor());
        painter.drawEllipse(QRectF(9.5, 9.5, 13, 13));
    } else {
        painter.setPen(QPen(secondaryColor(), 2.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(outer);
    }
    return QIcon(pixmap);
}

QIcon checkmarkSymbol() {
    QPixmap pixmap = symbolCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(52, 199, 89));
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    QPainterPath tick;
    tick.moveTo(9.5, 16.5);
    tick.lineTo(14, 21);
    tick.lineTo(22.5, 11.5);
    painter.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    return QIcon(pixmap);
}

void makeCard(QWidget* widget, int radius) {
    widget->setAttribute(Qt::WA_StyledBackground, true);
    const QString name = widget->objectName().isEmpty() ? QStringLiteral("card") : widget->objectName();
    widget->setObjectName(name);
    widget->setStyleSheet(widget->styleSheet() + QStringLiteral("QWidget#%1 { background: %2; border-radius: %3px; }")
                                                     .arg(name, rgba(quaternaryFill()))
                                                     .arg(radius));
}

void applyApplicationStyle() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Window, QColor(246, 246, 246));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, primaryColor());
    palette.setColor(QPalette::WindowText, primaryColor());
    palette.setColor(QPalette::Highlight, accentColor());
    palette.setColor(QPalette::Link, accentColor());
    palette.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 64));
    QApplication::setPalette(palette);
}

}  // namespace lumo::ui
