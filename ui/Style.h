// The platform's look in one place: text styles, colours, button styles,
// cards and the symbols the screens draw.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace lumo::ui {

enum class TextStyle { largeTitle, headline, subheadline, body, callout, footnote, caption };
// prominent: the accent-filled default action; bordered: a grey bezel;
// outlined: a hairline bezel (the score chips); plain: a text row with an
// optional icon; borderless: accent-coloured text; link: a footnote link.
enum class ButtonStyle { prominent, bordered, outlined, plain, borderless, link };
enum class ControlSize { regular, large };

QFont textFont(TextStyle style, bool semibold = false);
// The title of a sheet: a semibold headline at 18 px.
QFont sheetTitleFont();
// Menlo, or the platform's fixed-pitch face where there is no Menlo: for
// commands, output and file contents.
QFont monospacedFont(int pixelSize);
QColor primaryColor();
QColor secondaryColor();
QColor accentColor();
QColor quaternaryFill();
QColor errorColor();

// Gives a widget its accessibility identifier (objectName) and the name a
// screen reader speaks.
void identify(QWidget* widget, const QString& identifier, const QString& spokenName = {});

// A wrapping label in a text style.
QLabel* label(const QString& text, TextStyle style, bool secondary = false, bool semibold = false);
// Lets the text be selected and copied: for output, paths and errors.
void makeSelectable(QLabel* label);
// Sets the colour a widget draws its text in.
void setTextColor(QWidget* widget, const QColor& color);
// A label that renders inline Markdown (`code` spans) from an explainer.
QLabel* markdownLabel(const QString& markdown, TextStyle style, bool secondary = false);
// Sets a label's text from Markdown (plain text when it uses none).
void setMarkdownText(QLabel* label, const QString& markdown);
QPushButton* button(const QString& title, ButtonStyle style, ControlSize size = ControlSize::regular);
// Radio symbol: "largecircle.fill.circle" when selected, else "circle".
QIcon radioSymbol(bool selected);
// One row of a radio option list: a checkable plain button with the radio
// symbol, identified by `identifier`.
QPushButton* radioOption(const QString& title, const QString& identifier);
// Checks or unchecks a radio option row and shows the matching symbol.
void setRadioSelected(QPushButton* option, bool selected);
// "checkmark.circle.fill".
QIcon checkmarkSymbol();
// Paints a card background on `widget` (a rounded rectangle in the quaternary fill).
void makeCard(QWidget* widget, int radius = 8);

// Application-wide palette and widget style, set once before any window.
void applyApplicationStyle();

}  // namespace lumo::ui
