#pragma once

#include <QString>

class QSettings;

// Before the application object exists: with no display at all, run on Qt's
// offscreen platform instead of aborting, and say so on the console.
void chooseOffscreenPlatformWithoutDisplay();

// "ZQHIDSettings.ini" in the per-user application configuration folder.
QString settingsFilePath();

// A user's first start (no settings file yet) turns the welcome notice on;
// returns whether "Settings/SHOWWELCOMTIPS" asks for the notice now.
bool welcomeTipsWanted(QSettings &settings, const QString &path);

// Shows the self-closing welcome notice and waits until it has closed.
void showWelcomeTips();

// Records that the notice was shown, so later starts skip it.
void markWelcomeTipsShown(const QString &path);
