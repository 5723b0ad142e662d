#pragma once

#include <QByteArray>

// Qt 5.15's JSON reader leaks the earlier value when an object repeats a key
// whose value is an object or array, so text from outside is checked first.
// True when any object in `text` names a key twice, or names one with a
// backslash escape (which could spell a repeat); the text need not be valid
// JSON.
bool jsonRepeatsKeys(const QByteArray &text);
