// What the pages of lumora-screenshots share: writing a picture and the
// services of a user on a fresh Mac.
#pragma once

#include <QString>

#include "LumoRootView.h"
#include "platform/AppServices.h"

class QWidget;

namespace lumo::ui {

// Grabs `widget` into DIRECTORY/NAME.png and prints the path; false when the
// picture could not be written.
bool savePicture(QWidget& widget, const QString& directory, const QString& name);

// In-memory preferences in fixture mode; with the current product's consent
// already given when `consented`.
AppServices servicesFor(bool consented);
// A root view's options for a picture: those services, silent telemetry and
// links that open nothing.
LumoRootView::Options rootOptionsFor(bool consented);

// The staged audit's pages (AuditScreenshots.cpp). Returns the number of
// pictures that could not be written.
int shootAuditPages(const QString& directory);
// The Java journey's pages (JourneyScreenshots.cpp). Returns the number of
// pictures that could not be written.
int shootJourneyPages(const QString& directory);

}  // namespace lumo::ui
