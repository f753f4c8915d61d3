#include "report/outputs.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Deeper than any sane chain of links; a loop ends here.
constexpr int mostLinks = 40;

fs::path pathOf(const QString &text) {
    return fs::path(text.toStdString());
}

QString textOf(const fs::path &path) {
    return QString::fromStdString(path.string());
}

fs::path landing(const QString &text) {
    std::error_code error;
    fs::path path = fs::absolute(pathOf(text), error);
    for (int link = 0; link < mostLinks && fs::is_symlink(fs::symlink_status(path, error));
         ++link) {
        const fs::path target = fs::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path.lexically_normal() : canonical;
}

bool isInside(const fs::path &path, const fs::path &folder) {
    auto inFolder = folder.begin();
    auto inPath = path.begin();
    for (; inFolder != folder.end(); ++inFolder, ++inPath) {
        if (inFolder->empty()) // a trailing separator
            continue;
        if (inPath == path.end() || *inPath != *inFolder)
            return false;
    }
    return true;
}

} // namespace

QString landingPath(const QString &path) {
    return textOf(landing(path));
}

QString outputsRefusal(const QList<OutputFile> &outputs, const QStringList &dataFolders) {
    QList<fs::path> folders;
    for (const QString &folder : dataFolders)
        folders.append(landing(folder));
    QList<fs::path> landings;
    for (const OutputFile &output : outputs) {
        const fs::path path = landing(output.path);
        const QString named = QStringLiteral("%1 %2").arg(output.option, output.path);
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (fs::exists(status) && !fs::is_regular_file(status))
            return QStringLiteral("%1 exists and is not a regular file").arg(named);
        for (qsizetype index = 0; index < folders.size(); ++index) {
            if (isInside(path, folders.at(index)))
                return QStringLiteral("%1 lies inside the data folder %2 being read; write the "
                                      "report elsewhere")
                    .arg(named, dataFolders.at(index));
        }
        for (qsizetype index = 0; index < landings.size(); ++index) {
            if (landings.at(index) == path)
                return QStringLiteral("%1 and %2 %3 name the same file")
                    .arg(named, outputs.at(index).option, outputs.at(index).path);
        }
        landings.append(path);
    }
    return {};
}
