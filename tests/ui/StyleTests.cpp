// The shared look: Markdown detection for labels and the self-drawn buttons.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QLabel>

#include "DiagnosisDetailView.h"
#include "Style.h"
#include "StyledButton.h"
#include "UITestSupport.h"

namespace lumo::ui {
namespace {

class StyleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::ensureOffscreenApplication();
        applyApplicationStyle();
    }
};

TEST_F(StyleTest, MarkdownLabelsFallBackToPlainTextOnlyWhenNoMarkupIsUsed) {
    QLabel label;
    for (const char* plain : {"Java 21 — installed, 3 tools found.", "Version 1.8 is old", "e-mail - or not"}) {
        setMarkdownText(&label, QString::fromUtf8(plain));
        EXPECT_EQ(label.textFormat(), Qt::PlainText) << plain;
    }
    for (const char* markdown : {"Run `java -version`", "Steps:\n- one\n- two", "1. first\n2. second"}) {
        setMarkdownText(&label, QString::fromUtf8(markdown));
        EXPECT_EQ(label.textFormat(), Qt::MarkdownText) << markdown;
    }
}

// The horizontal extent of the pixels darker than the chip's own fill.
int inkWidth(const QImage& image) {
    int left = image.width(), right = -1;
    for (int y = 4; y < image.height() - 4; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            if (qGray(image.pixel(x, y)) < 140) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right < left ? 0 : right - left + 1;
}

TEST_F(StyleTest, ButtonsAskForRoomForTheirIconAndRestyledTitleAndANarrowChipGivesUpPaddingBeforeEliding) {
    StyledButton row(QStringLiteral("Other"), ButtonStyle::plain);
    const int plainWidth = row.sizeHint().width();
    row.setIcon(radioSymbol(false));
    row.setIconSize(QSize(16, 16));
    EXPECT_GT(row.sizeHint().width(), plainWidth + 16);

    // Switching style re-measures: a selected score chip is the prominent one.
    StyledButton chip(QStringLiteral("8"), ButtonStyle::outlined);
    chip.setButtonStyle(ButtonStyle::prominent);
    EXPECT_TRUE(chip.font().bold() || chip.font().weight() >= QFont::DemiBold);

    StyledButton narrow(QStringLiteral("10"), ButtonStyle::outlined);
    narrow.setFixedSize(30, 30);
    QImage image(narrow.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    narrow.render(&image);
    EXPECT_GE(inkWidth(image), narrow.fontMetrics().horizontalAdvance(QStringLiteral("10")) - 4);
}

// The ink of `widget` in `root`'s picture: its darkest grey, or its lightest on a dark background.
int ink(const QImage& picture, QWidget* root, QWidget* widget, bool dark) {
    const QRect area(widget->mapTo(root, QPoint(0, 0)), widget->size());
    int result = dark ? 0 : 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(picture.pixel(x, y));
            result = dark ? std::max(result, grey) : std::min(result, grey);
        }
    return result;
}

// `color` over the window's background, as a grey.
int greyOver(const QColor& color, const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    const double alpha = color.alphaF();
    return qGray(qRound(color.red() * alpha + window.red() * (1 - alpha)),
                 qRound(color.green() * alpha + window.green() * (1 - alpha)),
                 qRound(color.blue() * alpha + window.blue() * (1 - alpha)));
}

TEST_F(StyleTest, ChooserDrawsDescriptionsInTheSecondaryColourOfTheLightAndDarkPalettes) {
    JavaVersionChooserView chooser(21, QStringLiteral("d1"), {});
    chooser.resize(600, chooser.sizeHint().height());
    chooser.show();
    for (const bool dark : {false, true}) {
        // The system switches its appearance while the chooser is shown.
        QApplication::setPalette(fusionPalette(dark));
        QApplication::processEvents();
        const QPalette palette = QApplication::palette();
        const QImage picture = chooser.grab().toImage();
        JavaVersionRow* row = chooser.rows()[1];
        EXPECT_NEAR(ink(picture, &chooser, row->descriptionLabel(), dark),
                    greyOver(textRoleColor(TextRole::secondary, palette), palette), 20)
            << (dark ? "dark" : "light");
        EXPECT_NEAR(ink(picture, &chooser, row->titleLabel(), dark),
                    greyOver(palette.color(QPalette::WindowText), palette), 20)
            << (dark ? "dark" : "light");
    }
    QApplication::setPalette(fusionPalette(false));

    // The selection is the checked state of a radio button to a screen reader.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(chooser.rows()[0])->role(), QAccessible::RadioButton);
    for (JavaVersionRow* row : chooser.rows())
        EXPECT_EQ(bool(QAccessible::queryAccessibleInterface(row)->state().checked), row->major() == 21)
            << row->major();
}

}  // namespace
}  // namespace lumo::ui
