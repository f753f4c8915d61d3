#include "core/model/framer.h"

namespace {

bool isTerminator(char byte) {
    return static_cast<unsigned char>(byte) <= 13;
}

} // namespace

QStringList MessageFramer::feed(const QByteArray &bytes) {
    QStringList messages;
    qsizetype pos = 0;
    while (pos < bytes.size() && !m_overflowed) {
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
        // Two terminators in a row (a CR LF pair among them) carry no message: they are
        // ignored as they arrive and never queued.
        if (!m_partial.isEmpty())
            messages.append(QString::fromLatin1(m_partial));
        m_partial.clear();
        pos = end + 1;
    }
    return messages;
}

void MessageFramer::reset() {
    m_partial.clear();
    m_overflowed = false;
}
