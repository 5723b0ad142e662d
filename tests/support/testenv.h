#pragma once

#include <QString>

// Paths of the build's products, as CTest hands them to every test.
QString builtBinary(const QString &name); // build/bin/NAME
QString builtLibrary(const QString &name); // build/lib/NAME
QString sourcePath(const QString &relative);
