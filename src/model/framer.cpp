#include "model/framer.h"

namespace {

bool isTerminator(char byte) {
    return static_cast<unsigned char>(byte) <= 13;
}

} // namespace

QStringList MessageFramer::feed(const QByteArray &bytes) {
    QStringList messages;
    qsizetype pos = 0;
    while (pos < bytes.size() && !m_overflowed) {
        // The line feed of a carriage return, line feed pair ends nothing of its own.
        const bool pairedLineFeed = m_afterCarriageReturn && bytes.at(pos) == '\n';
        m_afterCarriageReturn = false;
        if (pairedLineFeed) {
            ++pos;
            continue;
        }
        qsizetype end = pos;
        while (end < bytes.size() && !isTerminator(bytes.at(end)))
            ++end;
        const qsizetype length = end - pos;
        if (m_partial.size() + length > MaxMessageBytes) {
            m_partial.clear();
            m_overflowed = true;
            break;
        }
        m_partial.append(bytes.constData() + pos, length);
        if (end == bytes.size())
            break; // the terminator is still to come
        messages.append(QString::fromLatin1(m_partial));
        m_partial.clear();
        m_afterCarriageReturn = bytes.at(end) == '\r';
        pos = end + 1;
    }
    return messages;
}

void MessageFramer::reset() {
    m_partial.clear();
    m_afterCarriageReturn = false;
    m_overflowed = false;
}
