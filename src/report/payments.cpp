#include "report/payments.h"

#include "core/common/numbers.h"
#include "core/setup/conditions.h"
#include "core/setup/studydesign.h"
#include "report/summarycsv.h"

#include <algorithm>

#include <QHash>
#include <QStringList>

#include <cmath>
#include <string>

namespace {

struct PersonPayment {
    QString subject;
    int folder = 0;
    int runs = 0;
    int completed = 0;
    qint64 periodsInBand = 0;
    double payment = 0;
    double bonus = 0;
    double largestBase = 0;
    QStringList runIds;

    void add(const Run &run) {
        if (run.isPractice())
            return;
        ++runs;
        completed += run.isComplete() ? 1 : 0;
        periodsInBand += run.periodsInBand();
        payment += run.payment();
        bonus += run.bonus();
        largestBase = std::max(largestBase, run.payment() - run.bonus());
        if (!run.runId().isEmpty())
            runIds.append(run.runId());
    }
};

// A sum of dollar figures without the rounding errors of its parts (10.249999999999998).
QString dollars(double sum) {
    return numbers::general(std::round(sum * 1e6) / 1e6);
}

// Whether the folder's design pays the base payment once per person over its blocks.
bool paysBaseOnce(const DataFolder &folder) {
    const StudyDesign design = ReadStudyDesign(folder.path, ConditionNames(folder.path));
    return design.withinPerson() && !design.basePaymentPerBlock;
}

QList<PersonPayment> paymentsOf(const Report &report) {
    QList<PersonPayment> people;
    QHash<QPair<int, QString>, qsizetype> personOf;
    for (const Run &run : report.runs) {
        if (!run.isPerson())
            continue;
        const QPair<int, QString> key(run.folder, run.subject());
        auto found = personOf.constFind(key);
        if (found == personOf.cend()) {
            found = personOf.insert(key, people.size());
            PersonPayment person;
            person.subject = run.subject();
            person.folder = run.folder;
            people.append(person);
        }
        people[*found].add(run);
    }
    QList<bool> baseOnce;
    for (const DataFolder &folder : report.folders)
        baseOnce.append(paysBaseOnce(folder));
    for (PersonPayment &person : people) {
        if (baseOnce.at(person.folder) && person.runs > 0)
            person.payment = person.bonus + person.largestBase;
    }
    return people;
}

} // namespace

QByteArray paymentsCsv(const Report &report) {
    const char rowEnd[] = "\r\n";
    std::string text =
        csvFields({QStringLiteral("Subject"), QStringLiteral("Runs"), QStringLiteral("Completed"),
                   QStringLiteral("PeriodsInBand"), QStringLiteral("Payment"),
                   QStringLiteral("Bonus"), QStringLiteral("RunIds"), QStringLiteral("Folder")}) +
        rowEnd;
    for (const PersonPayment &person : paymentsOf(report))
        text += csvFields({person.subject, QString::number(person.runs),
                           QString::number(person.completed), QString::number(person.periodsInBand),
                           dollars(person.payment), dollars(person.bonus),
                           person.runIds.join(QLatin1Char(' ')),
                           report.folders.at(person.folder).label}) +
                rowEnd;
    return QByteArray::fromStdString(text);
}
