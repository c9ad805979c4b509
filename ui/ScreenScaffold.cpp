#include "ScreenScaffold.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Style.h"
#include "config/ProductConfig.h"

namespace lumo::ui {

ScreenScaffold::ScreenScaffold(const QString& title, const QString& explainer, QWidget* content, URLOpener openURL,
                               const std::optional<QString>& titleIdentifier,
                               const std::optional<QString>& explainerIdentifier, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(20);

    title_ = label(title, TextStyle::largeTitle, false, true);
    if (titleIdentifier) identify(title_, *titleIdentifier, title);
    layout->addWidget(title_);

    explainer_ = markdownLabel(explainer, TextStyle::body, true);
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
