#include "core/setup/studydesign.h"

#include "core/common/language.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <numeric>

namespace {

constexpr qint64 maxDesignBytes = 64 * 1024;

QStringList listValue(const QString &value) {
    QStringList items;
    for (const QString &item : value.split(QLatin1Char(','))) {
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed());
    }
    return items;
}

class DesignReader {
public:
    DesignReader(StudyDesign &design, const QStringList &conditions)
        : m_design(design)
        , m_conditions(conditions) {}

    void read(int line, const QString &key, const QString &value) {
        m_line = line;
        if (key == QLatin1String("Assignment"))
            assignment(value);
        else if (key == QLatin1String("AssignmentSeed"))
            seed(value);
        else if (key == QLatin1String("Blocks"))
            blocks(value);
        else if (key == QLatin1String("BlockOrder"))
            blockOrder(value);
        else if (key == QLatin1String("BasePaymentPerBlock"))
            perBlock(value);
        else if (key == QLatin1String("Languages"))
            languages(value);
        else if (key == QLatin1String("ComprehensionAttempts"))
            attempts(value);
        else if (key == QLatin1String("ComprehensionFailure"))
            failure(value);
        else
            fail(QStringLiteral("\"%1\" is no key of Study.txt (it reads Assignment, "
                                "AssignmentSeed, Blocks, BlockOrder, BasePaymentPerBlock, "
                                "Languages, ComprehensionAttempts and ComprehensionFailure).")
                     .arg(key));
    }

    void fail(const QString &text) { m_design.problems.append({m_line, text}); }

private:
    void assignment(const QString &value) {
        if (value.compare(QLatin1String("rotation"), Qt::CaseInsensitive) == 0)
            m_design.assignment = StudyDesign::Assignment::Rotation;
        else if (value.compare(QLatin1String("random"), Qt::CaseInsensitive) == 0)
            m_design.assignment = StudyDesign::Assignment::Random;
        else
            fail(
                QStringLiteral("Assignment is \"rotation\" or \"random\", not \"%1\".").arg(value));
    }
    void seed(const QString &value) {
        bool ok = false;
        const qlonglong seed = value.toLongLong(&ok);
        if (ok && seed >= 0)
            m_design.assignmentSeed = static_cast<std::uint64_t>(seed);
        else
            fail(QStringLiteral("AssignmentSeed is a whole number from 0 to 9223372036854775807, "
                                "not \"%1\".")
                     .arg(value));
    }
    void blocks(const QString &value) {
        const QStringList names = listValue(value);
        for (const QString &name : names) {
            if (!m_conditions.contains(name))
                fail(QStringLiteral("Blocks names \"%1\", which is no condition (conditions/%1.txt)"
                                    ": the study has %2.")
                         .arg(name, m_conditions.isEmpty()
                                        ? QStringLiteral("none")
                                        : m_conditions.join(QStringLiteral(", "))));
            else if (m_design.blocks.contains(name))
                fail(QStringLiteral("Blocks names \"%1\" twice: each block is played once.")
                         .arg(name));
            else
                m_design.blocks.append(name);
        }
        if (names.size() < 2)
            fail(QStringLiteral("Blocks names at least two conditions, one after the other."));
    }
    void blockOrder(const QString &value) {
        const QString order = value.toLower();
        if (order == QLatin1String("all"))
            m_design.blockOrder = StudyDesign::BlockOrder::All;
        else if (order == QLatin1String("latin"))
            m_design.blockOrder = StudyDesign::BlockOrder::Latin;
        else if (order == QLatin1String("fixed"))
            m_design.blockOrder = StudyDesign::BlockOrder::Fixed;
        else
            fail(QStringLiteral("BlockOrder is \"all\", \"latin\" or \"fixed\", not \"%1\".")
                     .arg(value));
    }
    void perBlock(const QString &value) {
        if (value == QLatin1String("0") || value == QLatin1String("1"))
            m_design.basePaymentPerBlock = value == QLatin1String("1");
        else
            fail(QStringLiteral("BasePaymentPerBlock is 0 or 1, not \"%1\".").arg(value));
    }
    void attempts(const QString &value) {
        bool ok = false;
        const int attempts = value.toInt(&ok);
        if (ok && attempts >= 1 && attempts <= 20)
            m_design.comprehensionAttempts = attempts;
        else
            fail(QStringLiteral("ComprehensionAttempts is a whole number from 1 to 20, not "
                                "\"%1\".")
                     .arg(value));
    }
    void failure(const QString &value) {
        if (value == QLatin1String("end") || value == QLatin1String("play"))
            m_design.playAfterFailedComprehension = value == QLatin1String("play");
        else
            fail(QStringLiteral("ComprehensionFailure is \"end\" or \"play\", not \"%1\".")
                     .arg(value));
    }
    void languages(const QString &value) {
        for (const QString &item : listValue(value)) {
            const QString code = item.toLower();
            if (!LanguageAvailable(code))
                fail(QStringLiteral("Languages names \"%1\", which the program has no "
                                    "translation into (it has %2).")
                         .arg(item, AvailableLanguages().join(QStringLiteral(", "))));
            else if (!m_design.languages.contains(code))
                m_design.languages.append(code);
        }
    }

    StudyDesign &m_design;
    const QStringList &m_conditions;
    int m_line = 0;
};

} // namespace

StudyDesign ReadStudyDesign(const QString &dataDir, const QStringList &conditions) {
    StudyDesign design;
    design.path = dataDir + QStringLiteral("/Study.txt");
    const QFileInfo info(design.path);
    if (!info.exists() && !info.isSymLink())
        return design;
    design.present = true;
    QFile file(design.path);
    if (!info.isFile() || info.size() > maxDesignBytes || !file.open(QIODevice::ReadOnly)) {
        design.problems.append({0, QStringLiteral("Study.txt is no readable file of at most "
                                                  "64 KiB.")});
        return design;
    }
    DesignReader reader(design, conditions);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = lines[index].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('\'')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            design.problems.append({index + 1, QStringLiteral("A line reads \"Key = Value\".")});
            continue;
        }
        reader.read(index + 1, line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    if (design.withinPerson() && design.assignment == StudyDesign::Assignment::Random &&
        design.blockOrder == StudyDesign::BlockOrder::Fixed)
        reader.fail(QStringLiteral("A fixed BlockOrder leaves nothing to draw: give "
                                   "Assignment = rotation or another BlockOrder."));
    return design;
}

QString StudyDesignCheckText(const StudyDesign &design) {
    if (!design.present)
        return QString();
    QStringList text = {
        QStringLiteral("Study design: %1").arg(QDir::toNativeSeparators(design.path))};
    const bool random = design.assignment == StudyDesign::Assignment::Random;
    QString how = random ? QStringLiteral("drawn at random") : QStringLiteral("by the rotation");
    if (random)
        how += design.assignmentSeed ? QStringLiteral(" (seed %1)").arg(*design.assignmentSeed)
                                     : QStringLiteral(" (a fresh seed for each person, recorded)");
    if (design.withinPerson()) {
        const QList<QStringList> orders = BlockOrders(design.blocks, design.blockOrder);
        text.append(QStringLiteral("Each person plays %1 blocks: %2; the order %3, one of %4.")
                        .arg(design.blocks.size())
                        .arg(design.blocks.join(QStringLiteral(", ")), how)
                        .arg(orders.size()));
        text.append(design.basePaymentPerBlock
                        ? QStringLiteral("The base payment is paid for every block.")
                        : QStringLiteral("The base payment is paid once per person."));
    } else {
        text.append(QStringLiteral("Each person's condition is given %1.").arg(how));
    }
    if (!design.languages.isEmpty())
        text.append(QStringLiteral("A person chooses the language at the login: %1.")
                        .arg(design.languages.join(QStringLiteral(", "))));
    for (const StudyDesign::Problem &problem : design.problems)
        text.append(problem.line > 0
                        ? QStringLiteral("Problem, line %1: %2").arg(problem.line).arg(problem.text)
                        : QStringLiteral("Problem: %1").arg(problem.text));
    return text.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

namespace {

QStringList inOrder(const QStringList &blocks, const QList<int> &positions) {
    QStringList order;
    for (int position : positions)
        order.append(blocks[position]);
    return order;
}

// Williams' design: the first row 0, 1, n-1, 2, n-2, ...; each further row adds one.
QList<QList<int>> balancedLatinSquare(int n) {
    QList<int> first = {0};
    for (int j = 1; j < n; ++j)
        first.append(j % 2 == 1 ? (j + 1) / 2 : n - j / 2);
    QList<QList<int>> rows;
    for (int shift = 0; shift < n; ++shift) {
        QList<int> row;
        for (int position : std::as_const(first))
            row.append((position + shift) % n);
        rows.append(row);
    }
    if (n % 2 == 1) { // an odd square is balanced only together with its mirror
        for (int index = 0; index < n; ++index)
            rows.append(QList<int>(rows[index].rbegin(), rows[index].rend()));
    }
    return rows;
}

} // namespace

QList<QStringList> BlockOrders(const QStringList &blocks, StudyDesign::BlockOrder order) {
    QList<int> positions(blocks.size());
    std::iota(positions.begin(), positions.end(), 0);
    QList<QStringList> orders;
    switch (order) {
    case StudyDesign::BlockOrder::Fixed:
        orders.append(blocks);
        break;
    case StudyDesign::BlockOrder::All:
        do
            orders.append(inOrder(blocks, positions));
        while (std::next_permutation(positions.begin(), positions.end()));
        break;
    case StudyDesign::BlockOrder::Latin:
        for (const QList<int> &row : balancedLatinSquare(static_cast<int>(blocks.size())))
            orders.append(inOrder(blocks, row));
        break;
    }
    return orders;
}

int SeededDraw(std::uint64_t seed, std::uint64_t index, int count) {
    // splitmix64: a fixed sequence of integer steps, so every machine draws alike.
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<int>(z % static_cast<std::uint64_t>(count));
}
