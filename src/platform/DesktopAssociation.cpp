#include "platform/DesktopAssociation.h"

#include "platform/Paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

namespace platform {

namespace {

QStringList envDirList(const char *name, const QString &fallback)
{
    QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        value = fallback;
    QStringList dirs;
    for (const QString &d : value.split(':', Qt::SkipEmptyParts)) {
        // The XDG rules ignore relative paths.
        if (QDir::isAbsolutePath(d))
            dirs << QDir::cleanPath(d);
    }
    return dirs;
}

// The data directories in order of preference, the user's first.
QStringList dataDirs()
{
    return QStringList{dataDir()} + envDirList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
}

QStringList configDirs()
{
    return QStringList{configDir()} + envDirList("XDG_CONFIG_DIRS", "/etc/xdg");
}

// The lines of a text file, each trimmed; empty when it cannot be read.
QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    QTextStream in(&f);
    while (!in.atEnd())
        lines << in.readLine().trimmed();
    return lines;
}

// The entries of one group of a desktop-style key file ("[Group]", "Key=Value").
// Keys are returned as written; later duplicates are ignored, as the format asks.
QList<std::pair<QString, QString>> readGroup(const QString &path, const QString &group)
{
    QList<std::pair<QString, QString>> entries;
    bool inGroup = false;
    for (const QString &line : readLines(path)) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inGroup = line == '[' + group + ']';
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        bool seen = false;
        for (const auto &e : entries)
            seen = seen || e.first == key;
        if (!seen)
            entries.append({key, line.mid(eq + 1).trimmed()});
    }
    return entries;
}

// The escapes of a key file's string values: \s \n \t \r \\.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != '\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value.at(++i);
        switch (n.unicode()) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += n; break;
        }
    }
    return out;
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and a
// backslash inside quotes escapes the next character.
QStringList splitExec(const QString &exec)
{
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size())
                current += exec.at(++i);
            else if (c == '"')
                quoted = false;
            else
                current += c;
        } else if (c == '"') {
            quoted = true;
            inArg = true;
        } else if (c == ' ' || c == '\t') {
            if (inArg)
                args << current;
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg)
        args << current;
    return args;
}

bool isFilePlaceholder(const QString &arg)
{
    return arg == "%f" || arg == "%F" || arg == "%u" || arg == "%U";
}

// A field code standing alone as an argument (%i, %c, %k and the deprecated ones).
bool isOtherFieldCode(const QString &arg)
{
    return arg.size() == 2 && arg.at(0) == '%' && arg.at(1) != '%';
}

struct GlobMatch {
    QString type;
    int weight = -1;
    qsizetype length = 0;
};

// The best match of `fileName` in one globs2 file ("weight:type:glob[:flags]").
GlobMatch matchGlobs2(const QString &path, const QString &fileName)
{
    GlobMatch best;
    for (const QString &line : readLines(path)) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList fields = line.split(':');
        if (fields.size() < 3 || fields.at(1).isEmpty() || fields.at(2) == "__NOGLOBS__")
            continue;
        const int weight = fields.at(0).toInt();
        const QString &glob = fields.at(2);
        const bool caseSensitive = fields.size() > 3 && fields.at(3).split(',').contains("cs");
        const auto cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
        if (!QRegularExpression::fromWildcard(glob, cs).match(fileName).hasMatch())
            continue;
        if (weight > best.weight || (weight == best.weight && glob.size() > best.length))
            best = {fields.at(1), weight, glob.size()};
    }
    return best;
}

QString normalizedExtension(const QString &extension)
{
    return extension.startsWith('.') ? extension : '.' + extension;
}

} // namespace

QString mimeTypeForExtension(const QString &extension)
{
    const QString fileName = "file" + normalizedExtension(extension);
    for (const QString &dir : dataDirs()) {
        const GlobMatch m = matchGlobs2(dir + "/mime/globs2", fileName);
        if (!m.type.isEmpty())
            return m.type;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.name() : QString();
}

QString desktopEntryPath(const QString &desktopId)
{
    if (desktopId.isEmpty() || desktopId.contains('/'))
        return {};
    for (const QString &dir : dataDirs()) {
        const QString appDir = dir + "/applications";
        const QString direct = appDir + '/' + desktopId;
        if (QFileInfo(direct).isFile())
            return direct;
        // An entry in a subdirectory has the relative path with "/" turned into "-"
        // as its id.
        QDirIterator it(appDir, {"*.desktop"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            QString id = file.mid(appDir.size() + 1);
            id.replace('/', '-');
            if (id == desktopId)
                return file;
        }
    }
    return {};
}

QString desktopEntryExec(const QString &path)
{
    QString exec;
    for (const auto &[key, value] : readGroup(path, "Desktop Entry")) {
        if (key == "Hidden" && value == "true")
            return {};
        if (key == "Exec")
            exec = unescapeValue(value);
    }
    return exec;
}

QString defaultApplicationFor(const QString &mimeType)
{
    if (mimeType.isEmpty())
        return {};
    QStringList lists;
    for (const QString &dir : configDirs())
        lists << dir + "/mimeapps.list";
    for (const QString &dir : dataDirs())
        lists << dir + "/applications/mimeapps.list";
    for (const QString &list : lists) {
        for (const auto &[key, value] : readGroup(list, "Default Applications")) {
            if (key.compare(mimeType, Qt::CaseInsensitive) != 0)
                continue;
            for (const QString &id : value.split(';', Qt::SkipEmptyParts)) {
                if (!desktopEntryPath(id.trimmed()).isEmpty())
                    return id.trimmed();
            }
        }
    }
    return {};
}

QString openCommandForExtension(const QString &extension)
{
    const QString id = defaultApplicationFor(mimeTypeForExtension(extension));
    if (id.isEmpty())
        return {};
    return desktopEntryExec(desktopEntryPath(id));
}

QStringList commandLineForFile(const QString &exec, const QString &path)
{
    QStringList command;
    for (const QString &arg : splitExec(exec)) {
        if (isFilePlaceholder(arg))
            break;
        if (isOtherFieldCode(arg))
            continue;
        command << QString(arg).replace("%%", "%");
    }
    if (command.isEmpty())
        return {};
    command << path;
    return command;
}

OpenResult openWithAssociation(const QString &extension, const QString &path)
{
    const QString exec = openCommandForExtension(extension);
    if (exec.isEmpty())
        return OpenResult::NoAssociation;
    const QStringList command = commandLineForFile(exec, path);
    if (command.isEmpty() || !QProcess::startDetached(command.first(), command.mid(1)))
        return OpenResult::StartFailed;
    return OpenResult::Started;
}

} // namespace platform
