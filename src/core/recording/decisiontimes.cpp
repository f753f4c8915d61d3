#include "core/recording/decisiontimes.h"

#include "core/recording/datafile.h"

#include <QList>

namespace {

constexpr int FieldCount = 3;

bool allDigits(QByteArrayView text) {
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

QString decisionTimesPath(const QString &dataDir) {
    return dataDir + QStringLiteral("/DecisionTimes.txt");
}

QString decisionTimesHeaderLine() {
    return QStringLiteral("RunId\tPeriod\tDecisionMs");
}

QByteArray decisionTimeLine(const QString &runId, int period, qint64 decisionMs) {
    return fieldText(runId).toLatin1() + '\t' + QByteArray::number(period) + '\t' +
           QByteArray::number(decisionMs);
}

TailKind classifyDecisionTimesTail(QByteArrayView tail) {
    const QList<QByteArray> fields = tail.toByteArray().split('\t');
    if (fields.size() > FieldCount)
        return TailKind::Foreign;
    // The RunId may hold anything but a TAB; the two numbers only digits, the last perhaps
    // cut short.
    for (qsizetype field = 1; field < fields.size(); ++field) {
        const QByteArray &text = fields.at(field);
        const bool mayBeEmpty = field + 1 == fields.size();
        if (!allDigits(text) || (text.isEmpty() && !mayBeEmpty))
            return TailKind::Foreign;
    }
    const bool whole = fields.size() == FieldCount && !fields.constLast().isEmpty();
    return whole ? TailKind::Whole : TailKind::Partial;
}
