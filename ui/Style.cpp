#include "Style.h"

#include "StyledButton.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <optional>

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

QFont sheetTitleFont() {
    QFont result = textFont(TextStyle::headline, true);
    result.setPixelSize(18);
    return result;
}

QFont monospacedFont(int pixelSize) {
    QFont result(QStringLiteral("Menlo"));
    result.setStyleHint(QFont::Monospace);
    result.setPixelSize(pixelSize);
    return result;
}

QColor primaryColor() { return QColor(0, 0, 0, 217); }
QColor secondaryColor() { return QColor(0, 0, 0, 128); }
QColor accentColor() { return QColor(0, 122, 255); }
QColor quaternaryFill() { return QColor(0, 0, 0, 13); }
QColor errorColor() { return QColor(200, 40, 40); }

void identify(QWidget* widget, const QString& identifier, const QString& spokenName) {
    widget->setObjectName(identifier);
    widget->setAccessibleName(spokenName.isEmpty() ? identifier : spokenName);
}

QLabel* label(const QString& text, TextStyle style, bool secondary, bool semibold) {
    auto* result = new QLabel(text);
    result->setTextFormat(Qt::PlainText);
    result->setWordWrap(true);
    result->setFont(textFont(style, semibold));
    // A palette, not a style sheet: a style sheet per label puts every label
    // through the style-sheet engine, which dominates start-up.
    setTextColor(result, secondary ? secondaryColor() : primaryColor());
    return result;
}

void makeSelectable(QLabel* label) {
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

namespace {
// Whether `text` uses any Markdown: inline markup, an entity, a heading or
// a list. Text without any is shown as plain text, which lays out far
// faster than a Markdown document.
bool usesMarkdown(const QString& text) {
    for (const QChar character : text)
        if (QStringView(u"`*_[]<>#&\\|~").contains(character)) return true;
    for (const QStringView line : QStringView(text).split(u'\n')) {
        const QStringView item = line.trimmed();
        qsizetype digits = 0;
        while (digits < item.size() && item[digits].isDigit()) ++digits;
        const bool bullet = item.startsWith(u"- ") || item.startsWith(u"+ ");
        const bool numbered = digits > 0 && item.size() > digits + 1 &&
                              (item[digits] == u'.' || item[digits] == u')') && item[digits + 1] == u' ';
        if (bullet || numbered) return true;
    }
    return false;
}
}  // namespace

void setMarkdownText(QLabel* label, const QString& markdown) {
    label->setTextFormat(usesMarkdown(markdown) ? Qt::MarkdownText : Qt::PlainText);
    label->setText(markdown);
}

QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary) {
    QLabel* result = label(QString(), style, secondary);
    setMarkdownText(result, markdown);
    return result;
}

QPushButton* button(const QString& title, ButtonStyle style, ControlSize size) {
    return new StyledButton(title, style, size);
}

namespace {
QPixmap symbolCanvas() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return pixmap;
}
}  // namespace

namespace {

QIcon drawRadioSymbol(bool selected) {
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

// The two radio symbols are drawn once per application: the option lists
// ask for them on every change of selection.
std::optional<QIcon> radioSymbols[2];

void forgetRadioSymbols() {
    radioSymbols[0].reset();
    radioSymbols[1].reset();
}

}  // namespace

QIcon radioSymbol(bool selected) {
    std::optional<QIcon>& symbol = radioSymbols[selected ? 1 : 0];
    if (!symbol) {
        // Pixmaps must not outlive the application that made them.
        if (!radioSymbols[0] && !radioSymbols[1]) qAddPostRoutine(forgetRadioSymbols);
        symbol = drawRadioSymbol(selected);
    }
    return *symbol;
}

QPushButton* radioOption(const QString& title, const QString& identifier) {
    QPushButton* row = button(title, ButtonStyle::plain);
    row->setIconSize(QSize(16, 16));
    row->setCheckable(true);
    identify(row, identifier, title);
    return row;
}

void setRadioSelected(QPushButton* option, bool selected) {
    option->setChecked(selected);
    option->setIcon(radioSymbol(selected));
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
    // Selected by a property, not by the objectName: identify() may rename
    // the widget afterwards, and the rule must not reach its children.
    widget->setProperty("card", true);
    widget->setStyleSheet(widget->styleSheet() +
                          QStringLiteral("*[card=\"true\"] { background: %1; border-radius: %2px; }")
                              .arg(rgba(quaternaryFill()))
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
