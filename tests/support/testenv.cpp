#include "support/testenv.h"

#include <QDir>

static QString fromEnv(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? fallback : value;
}

QString builtBinary(const QString &name)
{
    return fromEnv("ZQ_BIN_DIR", QDir::currentPath() + "/bin") + "/" + name;
}

QString builtLibrary(const QString &name)
{
    return fromEnv("ZQ_LIB_DIR", QDir::currentPath() + "/lib") + "/" + name;
}

QString sourcePath(const QString &relative)
{
    return fromEnv("ZQ_SOURCE_DIR", QDir::currentPath()) + "/" + relative;
}
