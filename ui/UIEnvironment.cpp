#include "UIEnvironment.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

namespace lumo::ui {

void QtDelayScheduler::schedule(std::chrono::milliseconds delay, std::function<void()> work) {
    QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
}

void openInBrowser(const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

TelemetrySink& silentTelemetry() {
    static class : public TelemetrySink {
        void emit(const std::string&, const JSONObject&) override {}
    } silent;
    return silent;
}

}  // namespace lumo::ui
