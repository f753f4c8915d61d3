#pragma once

#include <QByteArray>
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

// The setup file does not exist: "Configuration failed", and the program ends.
class SetupFileMissing : public SetupError {
public:
    using SetupError::SetupError;
};

// The lines of a setup file, without their ends (CR LF, LF or CR alone).
QStringList SetupLines(const QByteArray &contents);

// The value of the first line of the setup file whose key is `key`, or empty text when no
// line has it. A line reads "Key = Value" with exactly one character on each side of the
// "="; an apostrophe in the first column makes a comment; keys compare case-sensitively.
// Throws SetupFileMissing when the file does not exist.
QString ReadSetupValue(const QString &path, const QString &key);
