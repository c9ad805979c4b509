// The shared look: Markdown detection for labels and the self-drawn buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>

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

TEST_F(StyleTest, ButtonsAskForRoomForTheirTitleAndIcon) {
    StyledButton button(QStringLiteral("Set up Java"), ButtonStyle::prominent, ControlSize::large);
    const int titleWidth = button.fontMetrics().horizontalAdvance(button.text());
    EXPECT_EQ(button.sizeHint(), QSize(titleWidth + 2 * 18, 32));

    StyledButton row(QStringLiteral("Other"), ButtonStyle::plain);
    const int plainWidth = row.sizeHint().width();
    row.setIcon(radioSymbol(false));
    row.setIconSize(QSize(16, 16));
    EXPECT_GT(row.sizeHint().width(), plainWidth + 16);

    // Switching style re-measures: a selected score chip is the prominent one.
    StyledButton chip(QStringLiteral("8"), ButtonStyle::outlined);
    chip.setButtonStyle(ButtonStyle::prominent);
    EXPECT_EQ(chip.buttonStyle(), ButtonStyle::prominent);
    EXPECT_TRUE(chip.font().bold() || chip.font().weight() >= QFont::DemiBold);
}

}  // namespace
}  // namespace lumo::ui
