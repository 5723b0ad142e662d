#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Writing the files of a signature so that a reader only ever finds a whole
// file under its final name, and a whole set of files that belong together.
//
// Each file is written to a fresh temporary file in the same directory
// (created exclusively, never through a symlink), flushed to disk, and
// renamed over the final name. The rename replaces whatever sits at that
// name, a symlink included, so a link's target is never written. A failed
// write leaves the final names as they were and no temporary file behind; a
// temporary left by a killed process has a name of its own
// ('.save.png.1a2b3c4d.tmp') and never stands in the way.
//
// A set (save.png and path.save, and the pen data files when a page asked
// for them) changes as one. Once every temporary is on disk, a commit record
// naming each temporary, its final name, its size and its SHA-256 is put in
// place (kCommitRecord, itself written the same way); only then are the
// temporaries renamed, in the set's order, and the record removed. So the
// set changes at the moment the record reaches the disk: a failure before it
// leaves every final name as it was; a crash after it, between the renames,
// leaves the record, and recoverSet() completes the set from it, after
// checking every file against its hash. The next save in the directory does
// so first, and so does choosing the directory again ("2025").
namespace signaturefiles {

constexpr const char *kCommitRecord = ".signature.commit";

struct SaveResult
{
    bool saved = false;
    QString failure; // which file and why, for the log; empty when saved
};

struct NamedFile
{
    QString fileName; // the final name, a path
    QByteArray bytes;
};

SaveResult writeFile(const QString &fileName, const QByteArray &bytes);

// Files that all sit in one directory, renamed in this order.
SaveResult writeSet(const QVector<NamedFile> &files);

// save.png and path.save of one signature as a set, path.save renamed first.
SaveResult writePair(const QString &pictureName, const QByteArray &picture, const QString &pathName,
                     const QByteArray &pointPath);

struct Recovery
{
    enum Outcome {
        NothingToDo, // no commit record (or a save is running, for tryRecoverSet)
        Completed,   // an interrupted set was completed
        Refused,     // a record was found but could not be acted on: all left as found
    };
    Outcome outcome = NothingToDo;
    QString detail; // for the log
};

// Completes the set whose commit record lies in `directory`: every file it
// names must be either its temporary or already under its final name, each
// with the recorded size and hash; then the remaining temporaries are renamed
// and the record removed. Otherwise nothing is touched. Never removes a file
// other than the record.
Recovery recoverSet(const QString &directory);
// The same, except that it returns NothingToDo at once while a save runs
// (which recovers the directory itself first): for the GUI thread.
Recovery tryRecoverSet(const QString &directory);

} // namespace signaturefiles
