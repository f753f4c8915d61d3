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

// Where an output lands as the file system knows it: the file itself when it exists, else
// its deepest folder that exists and the names below it. Two outputs land on one file when
// the first parts are one (the same device and inode) and the names are the same.
struct Landing {
    fs::path existing;
    fs::path rest;
};

Landing landingOf(const fs::path &path) {
    Landing found{path, {}};
    std::error_code error;
    while (!fs::exists(found.existing, error) && found.existing.has_relative_path()) {
        found.rest =
            found.rest.empty() ? found.existing.filename() : found.existing.filename() / found.rest;
        found.existing = found.existing.parent_path();
    }
    return found;
}

bool isSameFile(const fs::path &one, const fs::path &other) {
    std::error_code error;
    return fs::equivalent(one, other, error) && !error;
}

// Whether `landing` lies in `folder` or below it, whatever path reaches either: a folder on
// its way is the data folder itself (a symbolic link or a bind mount of it included).
bool isInside(const Landing &landing, const fs::path &folder) {
    for (fs::path at = landing.existing;; at = at.parent_path()) {
        if (isSameFile(at, folder))
            return true;
        if (!at.has_relative_path())
            return false;
    }
}

// The files the report reads in a data folder.
QList<fs::path> inputFiles(const fs::path &folder) {
    QList<fs::path> files;
    for (const char *name : {"Data.txt", "Runs.txt", "Runs-v1.txt", "Runs-v2.txt", "Krugel.db"})
        files.append(folder / name);
    std::error_code error;
    for (fs::directory_iterator file(folder / "setups", error), end; !error && file != end;
         file.increment(error))
        files.append(file->path());
    return files;
}

// Whether the existing file at `path` is one the report reads: another name of it (a hard
// link) would have it written over.
bool isAnInput(const fs::path &path, const QList<QList<fs::path>> &inputs) {
    for (const QList<fs::path> &files : inputs) {
        for (const fs::path &file : files) {
            if (isSameFile(path, file))
                return true;
        }
    }
    return false;
}

} // namespace

QString landingPath(const QString &path) {
    return textOf(landing(path));
}

QString outputsRefusal(const QList<OutputFile> &outputs, const QStringList &dataFolders) {
    QList<fs::path> folders;
    QList<QList<fs::path>> inputs;
    for (const QString &folder : dataFolders) {
        folders.append(landing(folder));
        inputs.append(inputFiles(folders.constLast()));
    }
    QList<Landing> landings;
    for (const OutputFile &output : outputs) {
        const fs::path path = landing(output.path);
        const Landing where = landingOf(path);
        const QString named = QStringLiteral("%1 %2").arg(output.option, output.path);
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (fs::exists(status) && !fs::is_regular_file(status))
            return QStringLiteral("%1 exists and is not a regular file").arg(named);
        for (qsizetype index = 0; index < folders.size(); ++index) {
            if (isInside(where, folders.at(index)))
                return QStringLiteral("%1 lies inside the data folder %2 being read; write the "
                                      "report elsewhere")
                    .arg(named, dataFolders.at(index));
        }
        if (fs::exists(status) && isAnInput(path, inputs))
            return QStringLiteral("%1 is a file of a data folder being read; write the report "
                                  "elsewhere")
                .arg(named);
        for (qsizetype index = 0; index < landings.size(); ++index) {
            if (landings.at(index).rest == where.rest &&
                isSameFile(landings.at(index).existing, where.existing))
                return QStringLiteral("%1 and %2 %3 name the same file")
                    .arg(named, outputs.at(index).option, outputs.at(index).path);
        }
        landings.append(where);
    }
    return {};
}
