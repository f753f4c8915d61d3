#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <utility>

// A setup problem that stops the start of a run; message() is shown to the operator, key()
// names the setup key it is about (empty when none).
class SetupError : public std::runtime_error {
public:
    explicit SetupError(const QString &message, QString key = QString())
        : std::runtime_error(message.toStdString())
        , m_message(message)
        , m_key(std::move(key)) {}
    const QString &message() const { return m_message; }
    const QString &key() const { return m_key; }

private:
    QString m_message;
    QString m_key;
};

// The setup file does not exist or cannot be read: "Configuration failed", and the program
// ends.
class SetupFileMissing : public SetupError {
public:
    using SetupError::SetupError;
};

// The lines of a setup file, without their ends (CR LF, LF or CR alone).
QStringList SetupLines(const QByteArray &contents);

// The value of the first line whose key is `key`, or empty text when no line has it. A line
// reads "Key = Value" with exactly one character on each side of the "="; an apostrophe in
// the first column makes a comment; keys compare case-sensitively.
QString ReadSetupValue(const QStringList &lines, const QString &key);

// Whether the reader takes a setup file's bytes as UTF-8 (else as Latin-1).
bool SetupIsUtf8(const QByteArray &contents);

// Where the value of a line that gives the exit password starts, after its "=" and one blank;
// -1 for any other line. A line gives it when the reader takes its key as ExitPassword, and
// also when it only looks as if it meant to (compared after compatibility normalisation,
// without a byte order mark, comment marks, blanks and letter case: "ExitPassword=x",
// "'exitpassword = x", a full-width or no-break "="), so that no password is ever shown or
// kept, whether or not the program reads it.
qsizetype PasswordValueStart(const QString &line);
// The "=" of such a line (or what stands for it); -1 for another line.
qsizetype PasswordEqualsAt(const QString &line);

// The setup file of a data folder. It is read at every refresh and parsed again only when its
// bytes have changed, so a run's Start always plays the text the file holds then.
// Only a regular file of at most MaxBytes is read: a pipe would make the program wait for a
// writer, and a huge file would stall every Start.
class SetupFile {
public:
    static constexpr qint64 MaxBytes = 1024 * 1024;

    explicit SetupFile(QString path);
    const QString &path() const { return m_path; }

    // Reads the file again when it has changed since it was last read. Throws
    // SetupFileMissing when there is no readable file, SetupError when it is not a regular
    // file or is larger than MaxBytes.
    void refresh();
    // The file's lines, brought up to date first.
    const QStringList &lines();
    // The file's bytes as last read (read first if they never were).
    const QByteArray &contents();
    // ReadSetupValue on the text as last read (read first if it never was): a loader calls
    // refresh() once and then reads its keys without looking at the file again.
    QString value(const QString &key);

private:
    QString m_path;
    bool m_read = false;
    QByteArray m_contents;
    QStringList m_lines;
    QHash<QString, QString> m_firstValues;
};
