#include "ScreenScaffold.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Style.h"
#include "config/ProductConfig.h"

namespace lumo::ui {

namespace {
// Widens the page's side margins so that the column keeps its readable width.
class ReadableWidth : public QObject {
public:
    ReadableWidth(QWidget* page, QBoxLayout* layout, int padding)
        : QObject(page), layout_(layout), padding_(padding) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            const int width = static_cast<QWidget*>(watched)->width();
            const int side = padding_ + std::max(0, (width - kReadableWidth - 2 * padding_) / 2);
            const QMargins margins(side, padding_, side, padding_);
            if (layout_->contentsMargins() != margins) layout_->setContentsMargins(margins);
        }
        return false;
    }

private:
    QBoxLayout* layout_;
    int padding_;
};
}  // namespace

void keepReadableWidth(QWidget* page, QBoxLayout* layout, int padding) {
    layout->setContentsMargins(padding, padding, padding, padding);
    page->installEventFilter(new ReadableWidth(page, layout, padding));
}

ScreenScaffold::ScreenScaffold(const QString& title, const QString& explainer, QWidget* content, URLOpener openURL,
                               const std::optional<QString>& titleIdentifier,
                               const std::optional<QString>& explainerIdentifier, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    keepReadableWidth(this, layout, 32);
    layout->setSpacing(20);

    title_ = label(title, TextStyle::largeTitle, false, true);
    makeSelectable(title_);
    if (titleIdentifier) identify(title_, *titleIdentifier, title);
    layout->addWidget(title_);

    explainer_ = markdownLabel(explainer, TextStyle::body, true, openURL);
    makeSelectable(explainer_);
    if (explainerIdentifier) identify(explainer_, *explainerIdentifier, explainer);
    layout->addWidget(explainer_);

    if (content) layout->addWidget(content);
    layout->addStretch(1);

    auto* article = button(QStringLiteral("Read the article on Brimwell"), ButtonStyle::link);
    identify(article, QStringLiteral("scaffold-article-link"), article->text());
    connect(article, &QPushButton::clicked, this, [openURL] {
        if (openURL) openURL(ProductConfig::current().urls.javaUnableToLocate);
    });
    layout->addWidget(article, 0, Qt::AlignLeft);
}

void ScreenScaffold::setTitle(const QString& title) { title_->setText(title); }

void ScreenScaffold::setExplainer(const QString& explainer) { setMarkdownText(explainer_, explainer); }

}  // namespace lumo::ui
