#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Cuts the byte stream from a model into messages. The stream is single-byte text; every
// character of code 13 or less (line feed, carriage return, tab, NUL...) ends a message, and
// a terminator that ends nothing (the line feed of CR LF, or a blank line) is ignored.
// Several messages in one read are handed on one by one, a message split over several reads
// once its terminator has come.
class MessageFramer {
public:
    // Longest message accepted; a longer one means a broken or hostile peer.
    static constexpr int MaxMessageBytes = 64 * 1024;

    // The messages completed by these bytes, terminators removed, in order of arrival. A
    // terminator on its own gives no message. Once a message grows past MaxMessageBytes,
    // it is discarded, overflowed() turns true and everything is discarded until reset().
    QStringList feed(const QByteArray &bytes);

    // Forgets a partial message and any overflow: a new peer starts with a clean buffer.
    void reset();

    bool overflowed() const { return m_overflowed; }
    // The bytes received since the last complete message, as text.
    QString pending() const { return QString::fromLatin1(m_partial); }

private:
    QByteArray m_partial;
    bool m_overflowed = false;
};
