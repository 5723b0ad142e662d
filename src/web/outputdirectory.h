#pragma once

#include <QString>

// The directory a page asks signatures to be saved in ("2025"). Only an
// absolute path is taken: a page cannot know the driver's working directory
// or the user's home, so "", relative paths and "~" are refused, as are
// control characters (NUL among them: it would cut the name short) and names
// the file system cannot spell. A good directory is created with its parents
// and probed with "testfile", which is never written through a symlink.
class OutputDirectory
{
public:
    static OutputDirectory prepare(const QString &requested);

    bool isUsable() const { return m_refusal.isEmpty(); }
    // Why it cannot be used, for the log; empty when usable.
    QString refusal() const { return m_refusal; }
    QString path() const { return m_path; }
    QString filePath(const QString &name) const { return m_path + '/' + name; }

private:
    QString m_path;
    QString m_refusal;
};
