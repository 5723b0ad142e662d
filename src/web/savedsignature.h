#pragma once

#include <QMetaType>
#include <QString>

// What one confirm left on disk, as the draw-to-web worker found it: each
// file's name and size only when this confirm wrote it.
struct SavedSignature
{
    QString picture;          // save.png, empty when not written
    qint64 pictureBytes = 0;
    QString pathFile;         // path.save, empty when not written
    qint64 pathFileBytes = 0;
    int samples = 0;          // records of the pen path that was confirmed
    bool attempted = false;   // a directory was set and ink was drawn

    bool complete() const { return !picture.isEmpty() && !pathFile.isEmpty(); }
    bool failed() const { return attempted && !complete(); }
};

Q_DECLARE_METATYPE(SavedSignature)
