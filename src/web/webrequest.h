#pragma once

// A page's text message read as a request: the step before any action, kept
// free of the window so it can be exercised on arbitrary bytes.

#include <QString>

struct WebRequest
{
    bool valid = false; // false when the text is not JSON or repeats a key
    QString bizcode;    // "" when absent or not a string
    QString data;       // body.data, "" when absent or not a string
};

namespace webrequest {

WebRequest parse(const QString &message);

} // namespace webrequest
