// The platform's look in one place: text styles, colours, button styles,
// cards and the symbols the screens draw.
//
// Every colour comes from the application palette, so the window follows the
// system's light or dark appearance: on macOS the platform style and its
// palette are kept as they are; elsewhere Fusion draws, with a light or dark
// palette of the same colours. Widgets given a colour role (setTextRole,
// makeCard) are brought up to date when the palette changes.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QString>

#include "screens/ScreenModel.h"

class QLabel;
class QPushButton;
class QWidget;

namespace lumo::ui {

enum class TextStyle { largeTitle, headline, subheadline, body, callout, footnote, caption };
// prominent: the accent-filled default action; bordered: a grey bezel;
// outlined: a hairline bezel (the score chips); plain: a text row with an
// optional icon; borderless: accent-coloured text; link: a link, in the one
// link size of the app.
enum class ButtonStyle { prominent, bordered, outlined, plain, borderless, link };
enum class ControlSize { regular, large };
// The colours text is drawn in besides the primary one.
enum class TextRole { primary, secondary, error, success, warning, accent };
// The fill of a card: neutral (quaternary), or tinted for a verdict.
enum class CardTone { neutral, success, failure, warning };

QFont textFont(TextStyle style, bool semibold = false);
// The title of a sheet: a semibold headline at 18 px.
QFont sheetTitleFont();
// The platform's fixed-pitch font at `pixelSize`: for commands, output and
// file contents.
QFont monospacedFont(int pixelSize);

// Whether `palette` is a dark appearance.
bool isDark(const QPalette& palette);
// The palette Fusion draws with where the platform has no style of its own,
// in the light or dark appearance.
QPalette fusionPalette(bool dark);

// Colours of the current application palette (or of `palette`).
QColor errorColor();
QColor textRoleColor(TextRole role, const QPalette& palette);
QColor cardFill(CardTone tone, const QPalette& palette);

// Gives a widget its accessibility identifier (objectName) and the name a
// screen reader speaks.
void identify(QWidget* widget, const QString& identifier, const QString& spokenName = {});

// A wrapping label in a text style.
QLabel* label(const QString& text, TextStyle style, bool secondary = false, bool semibold = false);
// Lets the text be selected with the mouse and copied (from the first press
// on): for explanations, output, paths and errors.
void makeSelectable(QLabel* label);
// Draws a widget's text in `role`, now and after every change of appearance.
void setTextRole(QWidget* widget, TextRole role);
// A label that renders inline Markdown (`code` spans) from an explainer. With
// `openURL`, its links open through it.
QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary = false);
QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary, const URLOpener& openURL);
// Sets a label's text from Markdown (plain text when it uses none).
void setMarkdownText(QLabel* label, const QString& markdown);
// Links in the label open through `openURL` (click, or Tab and Return).
void openLinksWith(QLabel* label, const URLOpener& openURL);
QPushButton* button(const QString& title, ButtonStyle style, ControlSize size = ControlSize::regular);
// Return (and Enter) press `button` while it is shown and enabled: the
// page's primary action.
void makePrimaryAction(QPushButton* button);
// Radio symbol: "largecircle.fill.circle" when selected, else "circle".
QIcon radioSymbol(bool selected);
// One row of a radio option list: a checkable plain button with the radio
// symbol, identified by `identifier`.
QPushButton* radioOption(const QString& title, const QString& identifier);
// Checks or unchecks a radio option row and shows the matching symbol.
void setRadioSelected(QPushButton* option, bool selected);
// "checkmark.circle.fill" and "xmark.circle.fill".
QIcon checkmarkSymbol();
QIcon crossSymbol();
// Paints a card background under `widget`'s own drawing: a rounded rectangle
// in the tone's fill, taken from the palette at each paint.
void makeCard(QWidget* widget, int radius = 8, CardTone tone = CardTone::neutral);

// Application-wide style and palette, set once before any window.
void applyApplicationStyle();

}  // namespace lumo::ui
