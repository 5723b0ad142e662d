#include "signing/signingstate.h"

std::atomic<MainWindow *> mdialog{nullptr};
std::atomic<ZqDraw *> zqDraw{nullptr};
SharedValue<QString> strSavePicName;
SharedValue<QString> strSavePathName;
SharedValue<QString> webDrawPathPointData;
std::atomic<bool> isDrawPath{false};
SharedValue<TOUCH_INFO_F> touchinfo_f;
std::atomic<bool> isOnTouch{false};
std::atomic<int> pointIndexa{0};
std::atomic<int> devXmax{0};
std::atomic<int> devYmax{0};
std::atomic<int> isOnDrawing{0};
std::atomic<int> ExcCommFlag{0};
