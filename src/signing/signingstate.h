#pragma once

// The state of the signing flow, shared by the GUI thread, the draw-to-web
// worker and the replay thread: process-wide variables under the names the
// rest of the driver knows them by. Each is atomic or a SharedValue with its
// own lock, so every single read or write is safe from any thread; sequences
// that must not interleave are ordered by the code that makes them.
//
// It sits below the ink canvas and the web service, which both use it, and
// knows the main window and the canvas only as pointers.

#include "signing/sharedvalue.h"
#include "signing/touchinfof.h"

#include <QString>

#include <atomic>

class MainWindow;
class ZqDraw;

extern std::atomic<MainWindow *> mdialog;
extern std::atomic<ZqDraw *> zqDraw;
extern SharedValue<QString> strSavePicName;       // set by request 2025
extern SharedValue<QString> strSavePathName;      // set by request 2025
extern SharedValue<QString> webDrawPathPointData; // Base64 path text of the last replay request
extern std::atomic<bool> isDrawPath;              // a replay is pending or running
extern SharedValue<TOUCH_INFO_F> touchinfo_f;     // the latest pen sample as the canvas takes it
extern std::atomic<bool> isOnTouch;               // pen samples from the pad are taken
extern std::atomic<int> pointIndexa;              // drawn samples so far; one in ten goes to the web
extern std::atomic<int> devXmax;                  // width of the pad's coordinate range
extern std::atomic<int> devYmax;                  // height of the pad's coordinate range
// The draw-to-web worker's, written only by DrawJobs under its lock.
extern std::atomic<int> isOnDrawing; // jobs under way
extern std::atomic<int> ExcCommFlag; // the flag of the job under way, or of the last one:
                                     // -1 pen sample, 2 re-sign, 3 confirm, 4 cancel
