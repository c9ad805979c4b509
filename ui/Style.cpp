#include "Style.h"

#include "StyledButton.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QShortcut>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleHints>
#include <QPointer>
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

// Dynamic properties that let a change of appearance find what to redraw.
constexpr const char* kTextRoleProperty = "lumoTextRole";
constexpr const char* kRadioProperty = "lumoRadio";

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
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
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setStyleHint(QFont::Monospace);
    result.setPixelSize(pixelSize);
    return result;
}

// --- Colours

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QPalette fusionPalette(bool dark) {
    QPalette palette;
    if (!dark) {
        std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        if (fusion) palette = fusion->standardPalette();
        const QColor text(0, 0, 0, 217);
        palette.setColor(QPalette::Window, QColor(246, 246, 246));
        palette.setColor(QPalette::Base, QColor(255, 255, 255));
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::Highlight, QColor(0, 122, 255));
        palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
        palette.setColor(QPalette::Link, QColor(0, 104, 218));
        palette.setColor(QPalette::LinkVisited, QColor(0, 104, 218));
        palette.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 64));
        palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0, 0, 0, 64));
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0, 0, 0, 64));
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0, 0, 0, 64));
        return palette;
    }
    // The dark appearance: the window, text fields and controls of macOS in
    // dark mode.
    const QColor text(255, 255, 255, 217);
    const QColor disabledText(255, 255, 255, 64);
    palette.setColor(QPalette::Window, QColor(36, 36, 38));
    palette.setColor(QPalette::Base, QColor(30, 30, 30));
    palette.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, QColor(255, 255, 255));
    palette.setColor(QPalette::Button, QColor(64, 64, 66));
    palette.setColor(QPalette::Light, QColor(90, 90, 92));
    palette.setColor(QPalette::Midlight, QColor(72, 72, 74));
    palette.setColor(QPalette::Mid, QColor(52, 52, 54));
    palette.setColor(QPalette::Dark, QColor(24, 24, 26));
    palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    palette.setColor(QPalette::Link, QColor(65, 156, 255));
    palette.setColor(QPalette::LinkVisited, QColor(65, 156, 255));
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 64));
    palette.setColor(QPalette::ToolTipBase, QColor(64, 64, 66));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    return palette;
}

QColor textRoleColor(TextRole role, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (role) {
        case TextRole::primary: return palette.color(QPalette::WindowText);
        // The platform's secondary label colour: the text colour at half strength.
        case TextRole::secondary: return withAlpha(palette.color(QPalette::WindowText), dark ? 0.55 : 0.5);
        case TextRole::error: return dark ? QColor(255, 105, 97) : QColor(200, 40, 40);
        case TextRole::success: return dark ? QColor(48, 209, 88) : QColor(30, 140, 55);
        case TextRole::warning: return dark ? QColor(255, 179, 64) : QColor(150, 80, 0);
        case TextRole::accent: return palette.color(QPalette::Highlight);
    }
    return palette.color(QPalette::WindowText);
}

QColor cardFill(CardTone tone, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (tone) {
        case CardTone::neutral: return withAlpha(palette.color(QPalette::WindowText), dark ? 0.08 : 0.05);
        case CardTone::success: return withAlpha(QColor(52, 199, 89), dark ? 0.18 : 0.12);
        case CardTone::failure: return withAlpha(QColor(255, 59, 48), dark ? 0.20 : 0.10);
        case CardTone::warning: return withAlpha(QColor(255, 149, 0), dark ? 0.20 : 0.12);
    }
    return withAlpha(palette.color(QPalette::WindowText), 0.05);
}

QColor errorColor() { return textRoleColor(TextRole::error, QApplication::palette()); }

// --- Labels

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
    // through the style-sheet engine, which dominates start-up. Primary text
    // simply inherits the window's text colour.
    if (secondary) setTextRole(result, TextRole::secondary);
    return result;
}

namespace {
// Makes a label selectable the first time the mouse presses on it (or asks
// for its menu), just before the label handles that press. A selectable
// label lays its text out as a text document, which costs start-up time and
// memory for every explanation on every page; most are never selected.
class SelectableOnPress : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick || type == QEvent::ContextMenu) {
            auto* label = static_cast<QLabel*>(watched);
            label->removeEventFilter(this);
            label->setTextInteractionFlags(label->textInteractionFlags() | Qt::TextSelectableByMouse);
            // The focus, so that the selection can be copied with the keyboard.
            label->setFocus(Qt::MouseFocusReason);
            deleteLater();
        }
        return false;
    }
};
}  // namespace

void makeSelectable(QLabel* label) {
    // Selectable with the mouse only: Tab does not stop at plain text.
    if (label->textInteractionFlags() & Qt::TextSelectableByMouse) return;
    label->setCursor(Qt::IBeamCursor);
    label->installEventFilter(new SelectableOnPress(label));
}

namespace {
void applyTextRole(QWidget* widget, TextRole role) {
    QPalette palette = widget->palette();
    const QColor color = textRoleColor(role, QApplication::palette());
    // A label inside a button draws in ButtonText (it inherits the button's
    // background role), so that one is set too.
    for (const auto textRole : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(textRole, color);
    widget->setPalette(palette);
}
}  // namespace

void setTextRole(QWidget* widget, TextRole role) {
    widget->setProperty(kTextRoleProperty, static_cast<int>(role));
    applyTextRole(widget, role);
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

namespace {
constexpr const char* kOpensLinksProperty = "lumoOpensLinks";

// A label with a link takes the keyboard focus (Tab reaches its links); one
// without stays out of the Tab order.
void refreshLinkAccess(QLabel* label) {
    if (!label->property(kOpensLinksProperty).toBool()) return;
    const bool hasLink = label->textFormat() != Qt::PlainText && label->text().contains(QStringLiteral("]("));
    Qt::TextInteractionFlags flags = label->textInteractionFlags();
    flags.setFlag(Qt::LinksAccessibleByMouse, hasLink);
    flags.setFlag(Qt::LinksAccessibleByKeyboard, hasLink);
    label->setTextInteractionFlags(flags);
}
}  // namespace

void setMarkdownText(QLabel* label, const QString& markdown) {
    label->setTextFormat(usesMarkdown(markdown) ? Qt::MarkdownText : Qt::PlainText);
    label->setText(markdown);
    refreshLinkAccess(label);
}

QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary) {
    QLabel* result = label(QString(), style, secondary);
    setMarkdownText(result, markdown);
    return result;
}

QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary, const URLOpener& openURL) {
    QLabel* result = markdownLabel(markdown, style, secondary);
    openLinksWith(result, openURL);
    return result;
}

void openLinksWith(QLabel* label, const URLOpener& openURL) {
    label->setOpenExternalLinks(false);
    label->setProperty(kOpensLinksProperty, true);
    refreshLinkAccess(label);
    QObject::connect(label, &QLabel::linkActivated, label, [openURL](const QString& link) {
        if (openURL) openURL(link.toStdString());
    });
}

// --- Buttons

QPushButton* button(const QString& title, ButtonStyle style, ControlSize size) {
    return new StyledButton(title, style, size);
}

void makePrimaryAction(QPushButton* button) {
    // A window shortcut: it reaches the button only while the button is shown
    // and enabled, so the pages under the top of the stack stay quiet.
    button->setShortcut(QKeySequence(Qt::Key_Return));
    auto* enter = new QShortcut(QKeySequence(Qt::Key_Enter), button);
    QObject::connect(enter, &QShortcut::activated, button, [button] {
        if (button->isVisible() && button->isEnabled()) button->click();
    });
}

namespace {
QPixmap symbolCanvas() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon drawRadioSymbol(bool selected) {
    QPixmap pixmap = symbolCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer(3, 3, 26, 26);
    const QColor accent = textRoleColor(TextRole::accent, QApplication::palette());
    if (selected) {
        painter.setPen(QPen(accent, 2.6));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(outer);
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(QRectF(9.5, 9.5, 13, 13));
    } else {
        painter.setPen(QPen(textRoleColor(TextRole::secondary, QApplication::palette()), 2.2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(outer);
    }
    return QIcon(pixmap);
}

// The two radio symbols are drawn once per appearance: the option lists ask
// for them on every change of selection.
std::optional<QIcon> radioSymbols[2];
bool radioCleanupRegistered = false;

void forgetRadioSymbols() {
    radioSymbols[0].reset();
    radioSymbols[1].reset();
}

}  // namespace

QIcon radioSymbol(bool selected) {
    std::optional<QIcon>& symbol = radioSymbols[selected ? 1 : 0];
    if (!symbol) {
        // Pixmaps must not outlive the application that made them.
        if (!radioCleanupRegistered) {
            radioCleanupRegistered = true;
            qAddPostRoutine([] {
                forgetRadioSymbols();
                radioCleanupRegistered = false;
            });
        }
        symbol = drawRadioSymbol(selected);
    }
    return *symbol;
}

QPushButton* radioOption(const QString& title, const QString& identifier) {
    QPushButton* row = button(title, ButtonStyle::plain);
    row->setIconSize(QSize(16, 16));
    row->setCheckable(true);
    row->setProperty(kRadioProperty, true);
    identify(row, identifier, title);
    return row;
}

void setRadioSelected(QPushButton* option, bool selected) {
    option->setChecked(selected);
    option->setIcon(radioSymbol(selected));
}

namespace {
QIcon drawVerdictSymbol(const QColor& fill, bool tick) {
    QPixmap pixmap = symbolCanvas();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(2, 2, 28, 28));
    QPainterPath mark;
    if (tick) {
        mark.moveTo(9.5, 16.5);
        mark.lineTo(14, 21);
        mark.lineTo(22.5, 11.5);
    } else {
        mark.moveTo(11, 11);
        mark.lineTo(21, 21);
        mark.moveTo(21, 11);
        mark.lineTo(11, 21);
    }
    // The mark is cut out of the disc, as the platform's symbols are drawn.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(QPen(Qt::black, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(mark);
    return QIcon(pixmap);
}
}  // namespace

QIcon checkmarkSymbol() { return drawVerdictSymbol(QColor(52, 199, 89), true); }

QIcon crossSymbol() { return drawVerdictSymbol(QColor(255, 59, 48), false); }

// --- Cards

namespace {
// Paints the card under the widget's own drawing, in the colours of the
// palette at the time: no style sheet, so neither the widget nor its
// children go through the style-sheet engine.
class CardPainter : public QObject {
public:
    CardPainter(QWidget* card, int radius, CardTone tone) : QObject(card), radius_(radius), tone_(tone) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* card = static_cast<QWidget*>(watched);
            QPainter painter(card);
            painter.setRenderHint(QPainter::Antialiasing);
            const QPalette& palette = card->palette();
            QColor border = Qt::transparent;
            if (tone_ != CardTone::neutral) {
                const TextRole role = tone_ == CardTone::success   ? TextRole::success
                                      : tone_ == CardTone::failure ? TextRole::error
                                                                   : TextRole::warning;
                border = withAlpha(textRoleColor(role, palette), 0.45);
            }
            painter.setPen(border.alpha() > 0 ? QPen(border, 1) : QPen(Qt::NoPen));
            painter.setBrush(cardFill(tone_, palette));
            painter.drawRoundedRect(QRectF(card->rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
        }
        return false;
    }

private:
    int radius_;
    CardTone tone_;
};
}  // namespace

void makeCard(QWidget* widget, int radius, CardTone tone) {
    widget->setAutoFillBackground(false);
    widget->installEventFilter(new CardPainter(widget, radius, tone));
}

// --- The application

namespace {

// Brings the widgets that carry a colour role up to date when the palette
// changes: the system switched between light and dark.
class AppearanceWatcher : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::ApplicationPaletteChange) refresh();
        return false;
    }

    static void refresh() {
        forgetRadioSymbols();
        const auto widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets) {
            const QVariant role = widget->property(kTextRoleProperty);
            if (role.isValid()) applyTextRole(widget, static_cast<TextRole>(role.toInt()));
            if (widget->property(kRadioProperty).toBool()) {
                auto* option = static_cast<QPushButton*>(widget);
                option->setIcon(radioSymbol(option->isChecked()));
            }
        }
    }
};

bool platformHasItsOwnStyle(const QString& name) {
    // macOS (and Windows) draw their own controls; elsewhere Qt falls back to
    // a generic style, and Fusion looks the most at home.
    return name.compare(QStringLiteral("macos"), Qt::CaseInsensitive) == 0 ||
           name.startsWith(QStringLiteral("windows"), Qt::CaseInsensitive);
}

// The system's appearance: its colour scheme where Qt knows it (6.5 on),
// else the lightness of the platform's own palette.
void applyFusionPalette() {
    bool dark = isDark(QGuiApplication::palette());
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const Qt::ColorScheme scheme = QGuiApplication::styleHints()->colorScheme();
    if (scheme != Qt::ColorScheme::Unknown) dark = scheme == Qt::ColorScheme::Dark;
#endif
    QApplication::setPalette(fusionPalette(dark));
}

}  // namespace

void applyApplicationStyle() {
    static QPointer<AppearanceWatcher> watcher;
    if (!watcher) {
        watcher = new AppearanceWatcher(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(watcher);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        QObject::connect(QGuiApplication::styleHints(), &QStyleHints::colorSchemeChanged, watcher, [] {
            if (!platformHasItsOwnStyle(QApplication::style()->name())) applyFusionPalette();
        });
#endif
    }
    if (platformHasItsOwnStyle(QApplication::style()->name())) return;  // its palette follows the system
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    applyFusionPalette();
}

}  // namespace lumo::ui
