#pragma once

#include <QByteArray>
#include <QString>

// Writing the files of a signature so that a reader only ever finds a whole
// file under its final name. Each file is written to a fresh temporary file
// in the same directory (created exclusively, never through a symlink),
// flushed to disk, and renamed over the final name. The rename replaces
// whatever sits at that name, a symlink included, so a link's target is
// never written. A failed write leaves the final names as they were and no
// temporary file behind; a temporary left by a killed process has a name of
// its own ('.save.png.1a2b3c4d.tmp') and never stands in the way.
namespace signaturefiles {

struct SaveResult
{
    bool saved = false;
    QString failure; // which file and why, for the log; empty when saved
};

SaveResult writeFile(const QString &fileName, const QByteArray &bytes);

// save.png and path.save of one signature: both are written out before
// either final name changes, so on any failure neither does. path.save is
// renamed first, so a save.png always comes with its own path.save.
SaveResult writePair(const QString &pictureName, const QByteArray &picture, const QString &pathName,
                     const QByteArray &pointPath);

} // namespace signaturefiles
