#pragma once

// What the fuzz targets share: a failed expectation aborts, so libFuzzer
// keeps the input that broke it.

#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

#define FUZZ_EXPECT(condition)                                                              \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: expected %s\n", __FILE__, __LINE__, #condition);    \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

// The driver's log lines would only slow the runs down.
namespace fuzzer {
inline const bool quiet = (qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}), true);
} // namespace fuzzer
