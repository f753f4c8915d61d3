#include "core/setup/studyfiles.h"

#include "core/common/numbers.h"
#include "core/setup/conditions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <cmath>

namespace {

constexpr qint64 maxPageBytes = 1024 * 1024;

const QString instructionsFolderName = QStringLiteral("instructions");
const QString endScreenName = QStringLiteral("end.html");

bool isPageName(const QString &name) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{2}\\.html$"));
    return pattern.match(name).hasMatch();
}

// The line of the first byte that is not UTF-8, counted from 1; 0 when every line is.
int firstLineNotUtf8(const QByteArray &bytes) {
    const QList<QByteArray> lines = bytes.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder.decode(lines[index]);
        Q_UNUSED(decoded);
        if (decoder.hasError())
            return index + 1;
    }
    return 0;
}

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// The pages of one instructions folder, and the files in it that are no page.
QStringList pagesIn(const QString &folder, QStringList *skipped = nullptr) {
    QStringList pages;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::System | QDir::CaseSensitive, QDir::Name);
    for (const QString &name : names) {
        if (isPageName(name))
            pages.append(folder + QLatin1Char('/') + name);
        else if (skipped)
            skipped->append(name);
    }
    std::sort(pages.begin(), pages.end()); // by code point: the same order on every machine
    return pages;
}

} // namespace

QStringList InstructionPagePaths(const QString &dataDir, const QString &condition) {
    return pagesIn(StudyFilePath(dataDir, condition, instructionsFolderName));
}

QString EndScreenPath(const QString &dataDir, const QString &condition) {
    const QString path = StudyFilePath(dataDir, condition, endScreenName);
    return QFileInfo::exists(path) ? path : QString();
}

bool ReadStudyPage(const QString &path, StudyPage *page, QString *error) {
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read.").arg(shown(path));
        return false;
    }
    if (info.size() > maxPageBytes) {
        *error = QStringLiteral("%1 is larger than the %2 bytes (1 MiB) a page may have.")
                     .arg(shown(path))
                     .arg(maxPageBytes);
        return false;
    }
    const QByteArray bytes = file.read(maxPageBytes + 1);
    if (const int line = firstLineNotUtf8(bytes)) {
        *error = QStringLiteral("%1, line %2: the text is not UTF-8; save the file as UTF-8.")
                     .arg(shown(path))
                     .arg(line);
        return false;
    }
    page->html = QString::fromUtf8(bytes);
    page->folder = info.absolutePath();
    return true;
}

QString FillEndScreen(const QString &html, const EndScreenValues &values) {
    // Rounded to a millionth of a dollar, as the report shows it: the difference of the sums
    // would otherwise show their rounding errors.
    const double bonus = std::round(values.bonus * 1e6) / 1e6;
    QString filled = html;
    filled.replace(QStringLiteral("{payment}"), numbers::money(values.payment).toHtmlEscaped())
        .replace(QStringLiteral("{bonus}"), numbers::money(bonus).toHtmlEscaped())
        .replace(QStringLiteral("{periods_in_band}"), QString::number(values.periodsInBand))
        .replace(QStringLiteral("{subject}"), values.subject.toHtmlEscaped());
    return filled;
}

namespace {

// A name in braces that the end screen does not fill in, with its line; an end screen's
// other braces (a style sheet's) are left alone.
QStringList unknownPlaceholders(const QString &html) {
    static const QRegularExpression placeholder(QStringLiteral("\\{([a-z_]+)\\}"));
    static const QStringList known{QStringLiteral("payment"), QStringLiteral("bonus"),
                                   QStringLiteral("periods_in_band"), QStringLiteral("subject")};
    QStringList found;
    for (const QRegularExpressionMatch &match : placeholder.globalMatch(html)) {
        if (known.contains(match.captured(1)))
            continue;
        const int line = html.left(match.capturedStart()).count(QLatin1Char('\n')) + 1;
        found.append(QStringLiteral("line %1: {%2} is not filled in (known: {payment}, {bonus}, "
                                    "{periods_in_band}, {subject})")
                         .arg(line)
                         .arg(match.captured(1)));
    }
    return found;
}

void checkFolder(const QString &folder, const QString &heading, QStringList &lines, bool &usable) {
    const QString instructions = folder + QLatin1Char('/') + instructionsFolderName;
    const QString end = folder + QLatin1Char('/') + endScreenName;
    const bool hasInstructions = QFileInfo(instructions).isDir();
    if (!hasInstructions && !QFileInfo::exists(end))
        return;
    lines.append(heading);
    const auto problem = [&](const QString &text) {
        lines.append(QStringLiteral("  Problem: ") + text);
        usable = false;
    };
    StudyPage page;
    QString error;
    if (hasInstructions) {
        QStringList skipped;
        const QStringList pages = pagesIn(instructions, &skipped);
        QStringList names;
        for (const QString &path : pages)
            names.append(QFileInfo(path).fileName());
        lines.append(
            QStringLiteral("  Instruction pages (%1): %2")
                .arg(pages.size())
                .arg(names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "))));
        for (const QString &name : std::as_const(skipped))
            lines.append(
                QStringLiteral("  Skipped: %1 (pages are named 01.html, 02.html, ...)").arg(name));
        for (const QString &path : pages) {
            if (!ReadStudyPage(path, &page, &error))
                problem(error);
        }
    }
    if (QFileInfo::exists(end)) {
        lines.append(QStringLiteral("  End screen: %1").arg(shown(end)));
        if (!ReadStudyPage(end, &page, &error))
            problem(error);
        else
            for (const QString &text : unknownPlaceholders(page.html))
                problem(shown(end) + QStringLiteral(", ") + text);
    }
}

} // namespace

StudyFilesCheck CheckStudyPages(const QString &dataDir) {
    QStringList lines;
    StudyFilesCheck check;
    checkFolder(dataDir, QStringLiteral("Study files in %1:").arg(shown(dataDir)), lines,
                check.usable);
    for (const QString &condition : ConditionNames(dataDir))
        checkFolder(ConditionFolder(dataDir, condition),
                    QStringLiteral("Study files of condition %1 (they replace the data folder's):")
                        .arg(condition),
                    lines, check.usable);
    if (!lines.isEmpty())
        check.text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return check;
}
