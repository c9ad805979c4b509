// The shared look: Markdown detection for labels and the self-drawn buttons.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
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
    for (const char* plain : {"Set Java up on your Mac and verify it works.", "Java 21 — installed, 3 tools found.",
                              "Version 1.8 is old", "e-mail - or not"}) {
        setMarkdownText(&label, QString::fromUtf8(plain));
        EXPECT_EQ(label.textFormat(), Qt::PlainText) << plain;
        EXPECT_EQ(label.text(), QString::fromUtf8(plain));
    }
    for (const char* markdown : {"Run `java -version`", "**Important**", "[the article](https://example.com)",
                                 "Steps:\n- one\n- two", "1. first\n2. second", "Tom &amp; Jerry", "_emphasis_"}) {
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

TEST_F(StyleTest, ANarrowChipGivesUpPaddingBeforeItElidesItsTitle) {
    for (const ButtonStyle style : {ButtonStyle::outlined, ButtonStyle::bordered}) {
        StyledButton chip(QStringLiteral("10"), style);
        chip.setFixedSize(30, 30);
        QImage image(chip.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        chip.render(&image);
        EXPECT_GE(inkWidth(image), chip.fontMetrics().horizontalAdvance(QStringLiteral("10")) - 4);
    }
}

TEST_F(StyleTest, ButtonsAskForRoomForTheirIconAndRestyledTitle) {
    StyledButton row(QStringLiteral("Other"), ButtonStyle::plain);
    const int plainWidth = row.sizeHint().width();
    row.setIcon(radioSymbol(false));
    row.setIconSize(QSize(16, 16));
    EXPECT_GT(row.sizeHint().width(), plainWidth + 16);

    // Switching style re-measures: a selected score chip is the prominent one.
    StyledButton chip(QStringLiteral("8"), ButtonStyle::outlined);
    chip.setButtonStyle(ButtonStyle::prominent);
    EXPECT_TRUE(chip.font().bold() || chip.font().weight() >= QFont::DemiBold);
}

// The darkest and the lightest grey of the pixels of `widget` inside `root`'s picture.
std::pair<int, int> inkRange(const QImage& picture, QWidget* root, QWidget* widget) {
    const QRect area(widget->mapTo(root, QPoint(0, 0)), widget->size());
    int darkest = 255, lightest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const int grey = qGray(picture.pixel(x, y));
            darkest = std::min(darkest, grey);
            lightest = std::max(lightest, grey);
        }
    return {darkest, lightest};
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
        const auto [titleDark, titleLight] = inkRange(picture, &chooser, row->titleLabel());
        const auto [descriptionDark, descriptionLight] = inkRange(picture, &chooser, row->descriptionLabel());
        const int secondary = greyOver(textRoleColor(TextRole::secondary, palette), palette);
        const int primary = greyOver(palette.color(QPalette::WindowText), palette);
        const int descriptionInk = dark ? descriptionLight : descriptionDark;
        const int titleInk = dark ? titleLight : titleDark;
        EXPECT_NEAR(descriptionInk, secondary, 20) << (dark ? "dark" : "light");
        EXPECT_NEAR(titleInk, primary, 20) << (dark ? "dark" : "light");
    }
    QApplication::setPalette(fusionPalette(false));

    // The selection is the checked state of a radio button to a screen reader.
    for (JavaVersionRow* row : chooser.rows()) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(row);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::RadioButton);
        EXPECT_EQ(bool(accessible->state().checked), row->major() == 21) << row->major();
    }
}

}  // namespace
}  // namespace lumo::ui
