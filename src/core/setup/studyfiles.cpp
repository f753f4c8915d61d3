#include "core/setup/studyfiles.h"

#include "core/common/numbers.h"
#include "core/common/paths.h"
#include "core/setup/conditions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 maxPageBytes = 1024 * 1024;

const QString instructionsFolderName = QStringLiteral("instructions");
const QString endScreenName = QStringLiteral("end.html");
const QString consentPageName = QStringLiteral("consent.html");

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

QStringList InstructionPagePaths(const QString &dataDir, const QString &condition,
                                 const QString &language) {
    return pagesIn(StudyFilePath(dataDir, condition, instructionsFolderName, language));
}

QString EndScreenPath(const QString &dataDir, const QString &condition, const QString &language) {
    const QString path = StudyFilePath(dataDir, condition, endScreenName, language);
    return QFileInfo::exists(path) ? path : QString();
}

QString ConsentPagePath(const QString &dataDir, const QString &condition, const QString &language) {
    const QString path = StudyFilePath(dataDir, condition, consentPageName, language);
    return QFileInfo::exists(path) ? path : QString();
}

namespace {

// The folder of a condition's own files that `path` lies in, or empty text.
QString conditionFolderOf(const QString &dataDir, const QString &path) {
    const QString within = QDir(paths::conditionsDirectory(dataDir))
                               .relativeFilePath(QFileInfo(path).absoluteFilePath());
    const qsizetype slash = within.indexOf(QLatin1Char('/'));
    if (within.startsWith(QLatin1String("..")) || slash <= 0)
        return QString();
    return ConditionFolder(dataDir, within.left(slash));
}

} // namespace

bool ReadStudyPage(const QString &dataDir, const QString &path, StudyPage *page, QString *error) {
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
    page->studyFolders = QStringList{dataDir + QLatin1Char('/') + instructionsFolderName};
    const QString conditionFolder = conditionFolderOf(dataDir, path);
    if (!conditionFolder.isEmpty())
        page->studyFolders.append(conditionFolder);
    return true;
}

namespace {

// A path as the file system resolves it, links followed: the part that exists is resolved
// and the rest, which does not exist, kept as written.
QString resolvedPath(const QString &path) {
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing) && existing != QDir::rootPath()) {
        rest = QLatin1Char('/') + QFileInfo(existing).fileName() + rest;
        existing = QFileInfo(existing).absolutePath();
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return QDir::cleanPath((canonical.isEmpty() ? existing : canonical) + rest);
}

bool liesWithin(const QString &path, const QString &folder) {
    return path.startsWith(folder + QLatin1Char('/'));
}

// The data folder's records, setup and lock: never a page's, though end.html lies beside them.
bool isRecordName(const QString &name) {
    const QString data = QStringLiteral("/");
    const QStringList records{
        QFileInfo(paths::setupFile(data)).fileName(), QFileInfo(paths::dataFile(data)).fileName(),
        QFileInfo(paths::runFile(data)).fileName(), QFileInfo(paths::runFileV1(data)).fileName(),
        QFileInfo(paths::runFileV2(data)).fileName()};
    return records.contains(name) || name.startsWith(QLatin1Char('.')) ||
           name.startsWith(QFileInfo(paths::database(data)).fileName());
}

bool isStudyFile(const StudyPage &page, const QString &path) {
    for (const QString &folder : page.studyFolders) {
        if (liesWithin(path, resolvedPath(folder)))
            return true;
    }
    const QFileInfo file(path);
    return file.absolutePath() == resolvedPath(page.folder) && !isRecordName(file.fileName());
}

} // namespace

PageReference JudgePageReference(const StudyPage &page, const QUrl &reference) {
    if (reference.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0)
        return {PageReference::Verdict::Inline, QString()};
    if (reference.scheme().isEmpty() && reference.host().isEmpty() && reference.path().isEmpty())
        return {PageReference::Verdict::InPage, QString()};
    const QUrl url = QUrl::fromLocalFile(page.folder + QLatin1Char('/')).resolved(reference);
    if (!url.isLocalFile() || !url.host().isEmpty())
        return {PageReference::Verdict::Outside, QString()};
    // A symbolic link is judged by where it leads.
    const QString path = resolvedPath(url.toLocalFile());
    if (!isStudyFile(page, path))
        return {PageReference::Verdict::Outside, path};
    return {QFileInfo(path).isFile() ? PageReference::Verdict::Shown
                                     : PageReference::Verdict::Missing,
            path};
}

QString FillEndScreen(const QString &html, const EndScreenValues &values,
                      const numbers::MoneyStyle &style) {
    // Rounded to a millionth of a dollar, as the report shows it: the difference of the sums
    // would otherwise show their rounding errors.
    const double bonus = std::round(values.bonus * 1e6) / 1e6;
    QString filled = html;
    filled
        .replace(QStringLiteral("{payment}"), numbers::money(values.payment, style).toHtmlEscaped())
        .replace(QStringLiteral("{bonus}"), numbers::money(bonus, style).toHtmlEscaped())
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

// One image or link as a page writes it.
struct WrittenReference {
    int line = 0;
    QString kind; // "image" or "link"
    QString text; // as the viewer reads it: an attribute's entities decoded
};

// The text of an attribute's value as the page's reader takes it: character references and
// the usual named ones decoded.
QString decodedEntities(const QString &text) {
    static const QRegularExpression entity(
        QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|amp|lt|gt|quot|apos);"));
    static const QHash<QString, char32_t> named{{QStringLiteral("amp"), U'&'},
                                                {QStringLiteral("lt"), U'<'},
                                                {QStringLiteral("gt"), U'>'},
                                                {QStringLiteral("quot"), U'"'},
                                                {QStringLiteral("apos"), U'\''}};
    QString decoded;
    qsizetype from = 0;
    for (const QRegularExpressionMatch &match : entity.globalMatch(text)) {
        decoded += text.mid(from, match.capturedStart() - from);
        const QString name = match.captured(1);
        const bool hex = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive);
        const char32_t code = hex                                 ? name.mid(2).toUInt(nullptr, 16)
                              : name.startsWith(QLatin1Char('#')) ? name.mid(1).toUInt()
                                                                  : named.value(name);
        decoded += QString::fromUcs4(&code, 1);
        from = match.capturedEnd();
    }
    return decoded + text.mid(from);
}

// The page with each comment blanked, its line breaks kept, so that nothing in a comment
// counts and every position keeps its line.
QString withoutComments(QString html) {
    static const QRegularExpression comment(QStringLiteral("<!--.*?(-->|$)"),
                                            QRegularExpression::DotMatchesEverythingOption);
    for (const QRegularExpressionMatch &match : comment.globalMatch(html)) {
        for (qsizetype at = match.capturedStart(); at < match.capturedEnd(); ++at) {
            if (html.at(at) != QLatin1Char('\n'))
                html[at] = QLatin1Char(' ');
        }
    }
    return html;
}

// Every file a page names: the src, href and background attributes of its tags, and the
// url(...) of its style sheets and style attributes.
QList<WrittenReference> writtenReferences(const QString &page) {
    static const QRegularExpression tag(
        QStringLiteral("<([A-Za-z][A-Za-z0-9]*)((?:[^<>\"']|\"[^\"]*\"|'[^']*')*)>"));
    static const QRegularExpression attribute(QStringLiteral(
        "([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
    static const QRegularExpression styleBlock(QStringLiteral("<style\\b[^>]*>(.*?)</style\\s*>"),
                                               QRegularExpression::CaseInsensitiveOption |
                                                   QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression url(
        QStringLiteral("url\\(\\s*(?:\"([^\"]*)\"|'([^']*)'|([^)\\s]*))\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString html = withoutComments(page);
    QList<qsizetype> lineEnds;
    for (qsizetype at = html.indexOf(QLatin1Char('\n')); at >= 0;
         at = html.indexOf(QLatin1Char('\n'), at + 1))
        lineEnds.append(at);
    const auto lineAt = [&lineEnds](qsizetype at) {
        return static_cast<int>(std::lower_bound(lineEnds.begin(), lineEnds.end(), at) -
                                lineEnds.begin()) +
               1;
    };
    QList<WrittenReference> found;
    // The url(...) of a style sheet that starts at `at`.
    const auto urlsIn = [&](const QString &style, qsizetype at) {
        for (const QRegularExpressionMatch &match : url.globalMatch(style))
            found.append(
                {lineAt(at) +
                     static_cast<int>(style.left(match.capturedStart()).count(QLatin1Char('\n'))),
                 QStringLiteral("image"),
                 match.captured(1) + match.captured(2) + match.captured(3)});
    };
    for (const QRegularExpressionMatch &element : tag.globalMatch(html)) {
        const qsizetype attributesAt = element.capturedStart(2);
        for (const QRegularExpressionMatch &pair : attribute.globalMatch(element.captured(2))) {
            const QString name = pair.captured(1).toLower();
            const QString value = pair.captured(2) + pair.captured(3) + pair.captured(4);
            const qsizetype at = attributesAt + pair.capturedStart();
            if (name == QLatin1String("src") || name == QLatin1String("background"))
                found.append({lineAt(at), QStringLiteral("image"), decodedEntities(value)});
            else if (name == QLatin1String("href"))
                found.append({lineAt(at), QStringLiteral("link"), decodedEntities(value)});
            else if (name == QLatin1String("style"))
                urlsIn(decodedEntities(value),
                       attributesAt + std::max({pair.capturedStart(2), pair.capturedStart(3),
                                                pair.capturedStart(4)}));
        }
    }
    for (const QRegularExpressionMatch &block : styleBlock.globalMatch(html))
        urlsIn(block.captured(1), block.capturedStart(1));
    std::stable_sort(
        found.begin(), found.end(),
        [](const WrittenReference &a, const WrittenReference &b) { return a.line < b.line; });
    return found;
}

// Each image or link of a page that would not show a file of the study's, with its line.
} // namespace

QStringList ShownFiles(const StudyPage &page) {
    QStringList files;
    for (const WrittenReference &written : writtenReferences(page.html)) {
        const PageReference reference = JudgePageReference(page, QUrl(written.text));
        if (reference.verdict == PageReference::Verdict::Shown && !files.contains(reference.path))
            files.append(reference.path);
    }
    return files;
}

namespace {

QStringList referenceProblems(const QString &path, const StudyPage &page) {
    QStringList problems;
    for (const WrittenReference &written : writtenReferences(page.html)) {
        const PageReference reference = JudgePageReference(page, QUrl(written.text));
        const QString where = QStringLiteral("%1, line %2: the %3 \"%4\"")
                                  .arg(shown(path))
                                  .arg(written.line)
                                  .arg(written.kind, written.text);
        switch (reference.verdict) {
        case PageReference::Verdict::Shown:
        case PageReference::Verdict::Inline:
            break;
        case PageReference::Verdict::InPage:
            if (written.kind == QLatin1String("image"))
                problems.append(where + QStringLiteral(" names no file."));
            break;
        case PageReference::Verdict::Missing:
            problems.append(
                where +
                QStringLiteral(" is missing: there is no file %1.").arg(shown(reference.path)));
            break;
        case PageReference::Verdict::Outside:
            problems.append(
                where +
                (reference.path.isEmpty() ? QString()
                                          : QStringLiteral(" (%1)").arg(shown(reference.path))) +
                QStringLiteral(" lies outside the study's files (the data folder's instructions/, "
                               "conditions/NAME/ and the page's own folder), so it is never "
                               "loaded."));
            break;
        }
    }
    return problems;
}

// What a folder's pages and end screen hold: `withInstructions` and `withEnd` say whether a
// run shows the folder's pages and end screen.
void checkFolder(const QString &dataDir, const QString &folder, const QString &heading,
                 bool withInstructions, bool withEnd, QStringList &lines, bool &usable) {
    const QString instructions = folder + QLatin1Char('/') + instructionsFolderName;
    const QString end = folder + QLatin1Char('/') + endScreenName;
    const bool hasInstructions = withInstructions && QFileInfo(instructions).isDir();
    const bool hasEnd = withEnd && QFileInfo::exists(end);
    if (!hasInstructions && !hasEnd)
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
            if (!ReadStudyPage(dataDir, path, &page, &error))
                problem(error);
            else
                for (const QString &text : referenceProblems(path, page))
                    problem(text);
        }
    }
    if (hasEnd) {
        lines.append(QStringLiteral("  End screen: %1").arg(shown(end)));
        if (!ReadStudyPage(dataDir, end, &page, &error)) {
            problem(error);
            return;
        }
        for (const QString &text : unknownPlaceholders(page.html))
            problem(shown(end) + QStringLiteral(", ") + text);
        for (const QString &text : referenceProblems(end, page))
            problem(text);
    }
}

// Whether some condition shows the data folder's own `fileName` for want of its own.
bool someConditionShares(const QString &dataDir, const QStringList &conditions,
                         const QString &fileName) {
    const QString shared = dataDir + QLatin1Char('/') + fileName;
    return std::any_of(conditions.begin(), conditions.end(), [&](const QString &condition) {
        return StudyFilePath(dataDir, condition, fileName) == shared;
    });
}

} // namespace

StudyFilesCheck CheckStudyPages(const QString &dataDir) {
    QStringList lines;
    StudyFilesCheck check;
    // A study with conditions shows the data folder's files only where a condition has none.
    const QStringList conditions = ConditionNames(dataDir);
    checkFolder(dataDir, dataDir, QStringLiteral("Study files in %1:").arg(shown(dataDir)),
                conditions.isEmpty() ||
                    someConditionShares(dataDir, conditions, instructionsFolderName),
                conditions.isEmpty() || someConditionShares(dataDir, conditions, endScreenName),
                lines, check.usable);
    for (const QString &condition : conditions)
        checkFolder(dataDir, ConditionFolder(dataDir, condition),
                    QStringLiteral("Study files of condition %1 (they replace the data folder's):")
                        .arg(condition),
                    true, true, lines, check.usable);
    if (!lines.isEmpty())
        check.text = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    return check;
}

QStringList SharedStudyFiles(const QString &dataDir, const QString &condition) {
    QStringList shared;
    const QString folder = ConditionFolder(dataDir, condition) + QLatin1Char('/');
    const auto add = [&](const QString &path) {
        if (!path.isEmpty() && !path.startsWith(folder) && QFileInfo::exists(path))
            shared.append(path);
    };
    for (const QString &page : InstructionPagePaths(dataDir, condition))
        add(page);
    add(StudyFilePath(dataDir, condition, QStringLiteral("Questionnaire.txt")));
    add(EndScreenPath(dataDir, condition));
    return shared;
}

QStringList UntranslatedStudyFiles(const QString &dataDir, const QString &condition,
                                   const QString &language, const QString &ownLanguage,
                                   const QString &sharedLanguage) {
    const QString own =
        condition.isEmpty() ? QString() : ConditionFolder(dataDir, condition) + QLatin1Char('/');
    QStringList untranslated;
    const auto judge = [&](const QString &path, const QString &translated) {
        if (path.isEmpty() || !QFileInfo::exists(path) || translated != path)
            return;
        const bool conditions = !own.isEmpty() && path.startsWith(own);
        if ((conditions ? ownLanguage : sharedLanguage) != language)
            untranslated.append(QDir(dataDir).relativeFilePath(path));
    };
    const QString pages = StudyFilePath(dataDir, condition, instructionsFolderName);
    if (!pagesIn(pages).isEmpty())
        judge(pages, TranslatedStudyPath(pages, language));
    for (const QString &name : {QStringLiteral("Questionnaire.txt"), endScreenName}) {
        const QString path = StudyFilePath(dataDir, condition, name);
        judge(path, TranslatedStudyPath(path, language));
    }
    return untranslated;
}
