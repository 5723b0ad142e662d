#pragma once

#include <QByteArray>
#include <QString>

// Qt 5.15's JSON reader leaks the earlier value when an object repeats a key
// whose value is an object or array, so text from outside is checked, or
// rewritten, before Qt reads it. Both functions meet the keys as Qt's reader
// does up to its first error; the text need not be valid JSON.

// True when any object in `text` names a key twice, or names one with a
// backslash escape (which could spell a repeat) or a raw NUL, or nests
// deeper than Qt reads.
bool jsonRepeatsKeys(const QByteArray &text);

// `text` with no key repeated, read by Qt as Qt reads `text` itself: in each
// object, a member whose key (escapes decoded) a later member repeats gets a
// key of its own, starting with U+0000, so the last member wins as in Qt and
// no earlier value is dropped (and leaked) by the reader. `text` itself when
// no key repeats. An empty result and a reason in `*refusal` when Qt would
// refuse the text anyway: a key it cannot decode, or nesting deeper than it
// reads; and for a key holding a raw NUL, whose repeats Qt finds otherwise.
QByteArray jsonWithUniqueKeys(const QByteArray &text, QString *refusal);
