#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>

// What the last bytes of a record file hold when they lack their line end.
enum class TailKind {
    Whole,   // a whole line as the program writes it: only its CR LF is missing
    Partial, // the start of one, as a write that failed part-way may leave
    Foreign  // neither: nothing the program wrote
};

// One of the data folder's record files, Data.txt or Runs.txt: a header line, then whole
// lines, each ending in CR LF, only ever appended to. The program is the folder's only writer
// (it holds the lock), so what it knows of the file after its own writes is only looked at
// again when the file turns out to have changed.
class RecordFile {
public:
    using Classify = std::function<TailKind(QByteArrayView tail)>;

    RecordFile(QString path, QString header, Classify classifyTail);

    const QString &path() const { return m_path; }
    const QString &header() const { return m_header; }

    // Looks at the file without changing it: a file whose first line is not the header, whose
    // lines do not end in CR LF as the program writes them, or whose last bytes are no line
    // the program writes, is refused. False, with the reason naming the file and the line.
    bool inspect(QString *error);
    // Before a run: inspect(), then last bytes that lack their line end get it when they are
    // a whole line and are cut back when they are part of one (`notes` says which). With
    // `header`, a missing or empty file gets its header now, checked once written; else the
    // header comes with the first line appended.
    bool prepare(bool header, QStringList *notes, QString *error);

    // Appends `count` whole lines (each with its CR LF) in one write; the header goes first
    // when the file is empty. The number of the first of them in the file, the header being
    // line 1; 0, with the reason, when nothing was written.
    qint64 append(const QByteArray &lines, int count, QString *error);
    // The file's contents put on the disk (a power cut loses nothing appended before).
    bool sync(QString *error);

    // The lines the file holds, its header included, as far as this object knows.
    qint64 lineCount() const { return m_lines; }

private:
    bool check(bool mend, QStringList *notes, QString *error);
    bool writeHeader(QString *error);
    TailKind classify(QByteArrayView text, qint64 line) const;
    bool mendTail(QByteArrayView tail, qint64 tailStart, qint64 line, QStringList *notes,
                  QString *error);
    void countLines();

    QString m_path;
    QString m_header;
    QByteArray m_headerLine; // with its CR LF, as the file holds it
    Classify m_classifyTail;
    qint64 m_size = -1; // the file's size after the last check or write; -1: never looked at
    qint64 m_lines = 0;
};

// The number of line ends (LF) in the file at `path`; 0 for a file that cannot be read.
qint64 LineEnds(const QString &path);
