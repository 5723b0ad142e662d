#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

// What one confirm left on disk, as the draw-to-web worker found it: each
// file's name and size only when this confirm wrote it.
struct SavedSignature
{
    // A pen data file a page asked for ("inkml", "json", "svg", "manifest").
    struct EvidenceFile
    {
        QString key;
        QString path; // empty when not written
        qint64 bytes = 0;
    };

    QString picture;          // save.png, empty when not written
    qint64 pictureBytes = 0;
    QString pathFile;         // path.save, empty when not written
    qint64 pathFileBytes = 0;
    int samples = 0;          // records of the pen path that was confirmed
    bool attempted = false;   // a directory was set and ink was drawn
    bool evidenceRequested = false; // a page's "2102" applied to this confirm
    QVector<EvidenceFile> evidence;
    QByteArray penData;               // sign.json as written, for the page that asked

    bool complete() const
    {
        for (const EvidenceFile &file : evidence)
            if (file.path.isEmpty())
                return false;
        return !picture.isEmpty() && !pathFile.isEmpty();
    }
    bool failed() const { return attempted && !complete(); }
};

Q_DECLARE_METATYPE(SavedSignature)
