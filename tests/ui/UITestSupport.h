// What the offscreen widget tests share: one application for the whole test
// program, and a wait that keeps the event loop turning.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <gtest/gtest.h>

namespace lumo::test {

// The application is never destroyed, so nothing else waits for work a
// screen left on Qt's pool (a profile still running when its test ended):
// the program waits before it exits, or that work would meet destroyed
// statics.
class DrainThreadPool : public ::testing::Environment {
public:
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }
};
inline ::testing::Environment* const kDrainThreadPool = ::testing::AddGlobalTestEnvironment(new DrainThreadPool);

// Creates the offscreen application once per test program; it lives until
// the program ends.
inline void ensureOffscreenApplication() {
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lumo_ui_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Runs the event loop (deleting what was deleted later) until `condition`
// holds; false after `timeoutMs` (thirty seconds unless told: only a fault
// meets the limit, so it is far beyond anything a loaded machine takes).
template <class Condition>
bool waitFor(Condition condition, qint64 timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace lumo::test

// Asserts that `condition` comes to hold while the event loop runs. (Qt's
// QTRY_ macros cannot fail a GoogleTest test: they only return.)
#define WAIT_FOR(condition) \
    ASSERT_TRUE(::lumo::test::waitFor([&] { return static_cast<bool>(condition); })) << #condition
