#pragma once

// A page's text message read as a request: the step before any action, kept
// free of the window so it can be exercised on arbitrary bytes.

#include <QString>

struct WebRequest
{
    bool valid = false; // false when the text is not JSON
    QString refusal;    // why the text was not read, when it was not
    QString bizcode;    // "" when absent or not a string
    QString data;       // body.data, "" when absent or not a string
};

namespace webrequest {

// Reads the message as Qt's JSON reader does: escapes in keys are decoded,
// and of repeated keys the last wins.
WebRequest parse(const QString &message);

} // namespace webrequest
