// ScreenScaffold: the shared page layout. A title, a one-paragraph explainer,
// the page's own content, a flexible space and the footer article link.
#pragma once

#include <QWidget>
#include <optional>

#include "screens/ScreenModel.h"

class QLabel;

namespace lumo::ui {

class ScreenScaffold : public QWidget {
    Q_OBJECT
public:
    ScreenScaffold(const QString& title, const QString& explainer, QWidget* content, URLOpener openURL,
                   const std::optional<QString>& titleIdentifier = std::nullopt,
                   const std::optional<QString>& explainerIdentifier = std::nullopt, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    void setExplainer(const QString& explainer);

private:
    QLabel* title_;
    QLabel* explainer_;
};

}  // namespace lumo::ui
