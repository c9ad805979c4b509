// ScreenScaffold: the shared page layout. A title, a one-paragraph explainer,
// the page's own content, a flexible space and the footer article link, in a
// column of readable width centred in wide windows. All of its text can be
// selected, and links in the explainer open.
#pragma once

#include <QWidget>
#include <optional>

#include "screens/ScreenModel.h"

class QBoxLayout;
class QLabel;

namespace lumo::ui {

// The widest the text of a page gets; a wider window centres the column.
inline constexpr int kReadableWidth = 680;

// Keeps `layout`'s text column at most kReadableWidth wide inside `page`,
// centred, with `padding` on every side.
void keepReadableWidth(QWidget* page, QBoxLayout* layout, int padding);

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
