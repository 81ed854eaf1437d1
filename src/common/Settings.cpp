#include "common/Settings.h"

#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The settings file holds the scrambled password.
constexpr int kSettingsFileMode = 0600;

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// The profile file as its lines, each kept with its own line end, so that a change
// of one entry leaves every other line byte for byte as it was.
class ProfileFile {
public:
    explicit ProfileFile(const QByteArray &content)
    {
        qsizetype start = 0;
        while (start < content.size()) {
            qsizetype end = content.indexOf('\n', start);
            end = end < 0 ? content.size() : end + 1;
            lines_.append(content.mid(start, end - start));
            start = end;
        }
    }

    QByteArray bytes() const { return lines_.join(); }

    std::optional<QString> value(const QString &section, const QString &key) const
    {
        const qsizetype at = findKey(section, key);
        if (at < 0)
            return std::nullopt;
        return entryValue(at);
    }

    // Sets [section] key = value; false when the file already says so.
    bool set(const QString &section, const QString &key, const QString &value)
    {
        const QByteArray entry = oneLine(key).toUtf8() + '=' + oneLine(value).toUtf8();
        const qsizetype sectionAt = findSection(section);
        if (sectionAt < 0) {
            terminateLastLine();
            if (!lines_.isEmpty() && !text(lines_.size() - 1).trimmed().isEmpty())
                lines_.append("\r\n");
            lines_.append('[' + oneLine(section).toUtf8() + "]\r\n");
            lines_.append(entry + "\r\n");
            return true;
        }
        const qsizetype keyAt = findKey(section, key);
        if (keyAt >= 0) {
            if (entryValue(keyAt) == oneLine(value).trimmed())
                return false;
            // Keep the spelling of the key as the file has it, and its line end.
            const QString old = text(keyAt);
            const QByteArray keySpelling = old.left(old.indexOf('=')).trimmed().toUtf8();
            lines_[keyAt] = keySpelling + '=' + oneLine(value).toUtf8() + lineEnd(keyAt);
            return true;
        }
        // A new key goes after the section's last non-blank line, so that a blank
        // line separating it from the next section stays where it is.
        qsizetype last = sectionAt;
        for (qsizetype i = sectionAt + 1; i < lines_.size() && !isSectionHeader(i); ++i) {
            if (!text(i).trimmed().isEmpty())
                last = i;
        }
        if (lineEnd(last).isEmpty())
            lines_[last] += "\r\n";
        lines_.insert(last + 1, entry + "\r\n");
        return true;
    }

private:
    // A line's text without its line end (and without a byte-order mark on the first).
    QString text(qsizetype i) const
    {
        QByteArray raw = lines_[i];
        raw.chop(lineEnd(i).size());
        if (i == 0 && raw.startsWith(kUtf8Bom))
            raw.remove(0, kUtf8Bom.size());
        return QString::fromUtf8(raw);
    }

    QByteArray lineEnd(qsizetype i) const
    {
        const QByteArray &raw = lines_[i];
        if (raw.endsWith("\r\n"))
            return "\r\n";
        if (raw.endsWith('\n'))
            return "\n";
        return {};
    }

    void terminateLastLine()
    {
        if (!lines_.isEmpty() && lineEnd(lines_.size() - 1).isEmpty())
            lines_.last() += "\r\n";
    }

    bool isSectionHeader(qsizetype i) const { return text(i).trimmed().startsWith('['); }

    QString sectionName(qsizetype i) const
    {
        const QString t = text(i).trimmed();
        const qsizetype close = t.indexOf(']');
        return t.mid(1, close < 0 ? -1 : close - 1).trimmed();
    }

    // The key of an entry line, or an empty text for comments and other lines.
    QString entryKey(qsizetype i) const
    {
        const QString t = text(i);
        const QString trimmed = t.trimmed();
        if (trimmed.startsWith(';') || trimmed.startsWith('#'))
            return {};
        const qsizetype eq = t.indexOf('=');
        return eq < 0 ? QString() : t.left(eq).trimmed();
    }

    QString entryValue(qsizetype i) const
    {
        const QString t = text(i);
        return t.mid(t.indexOf('=') + 1).trimmed();
    }

    qsizetype findSection(const QString &section) const
    {
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            if (isSectionHeader(i)
                && sectionName(i).compare(section.trimmed(), Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    qsizetype findKey(const QString &section, const QString &key) const
    {
        const qsizetype sectionAt = findSection(section);
        if (sectionAt < 0)
            return -1;
        for (qsizetype i = sectionAt + 1; i < lines_.size() && !isSectionHeader(i); ++i) {
            const QString k = entryKey(i);
            if (!k.isEmpty() && k.compare(key.trimmed(), Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    // A line break inside a value would end the entry and start another one.
    static QString oneLine(QString s)
    {
        for (QChar &c : s) {
            if (c == '\r' || c == '\n' || c == QChar(0))
                c = ' ';
        }
        return s;
    }

    QByteArrayList lines_;
};

enum class Loaded { Absent, Read, Unreadable };

Loaded load(const QString &path, QByteArray &content)
{
    QFile f(path);
    if (!f.exists())
        return Loaded::Absent;
    if (!f.open(QIODevice::ReadOnly))
        return Loaded::Unreadable;
    content = f.readAll();
    return f.error() == QFileDevice::NoError ? Loaded::Read : Loaded::Unreadable;
}

QString cutValue(const QString &value)
{
    if (value.size() <= kMaxIniValueLength)
        return value;
    qsizetype n = kMaxIniValueLength;
    if (value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

[[noreturn]] void refuse(const QString &path)
{
    throw platform::Error(QString("Unable to write to %1").arg(path));
}

// Writes through a symbolic link to its target, so a linked settings file stays linked.
QString writeTarget(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

// A file its owner made read-only is left alone. The rename that replaces the file
// would not ask, and root may open anything, so the mode is looked at directly.
bool readOnly(const QString &file)
{
    struct stat st;
    const QByteArray name = QFile::encodeName(file);
    return ::stat(name.constData(), &st) == 0
        && (!(st.st_mode & S_IWUSR) || ::access(name.constData(), W_OK) != 0);
}

void store(const QString &path, const ProfileFile &file)
{
    const QString target = writeTarget(path);
    if (readOnly(target))
        refuse(path);
    if (!QDir().mkpath(QFileInfo(target).absolutePath()))
        refuse(path);
    if (!platform::writeFileAtomically(target, file.bytes(), kSettingsFileMode, true))
        refuse(path);
}

} // namespace

QString ReadIniString(const QString &section, const QString &key, const QString &def)
{
    const QString path = platform::settingsFilePath();
    QByteArray content;
    const Loaded loaded = load(path, content);
    ProfileFile file(content);
    const QString value = cutValue(file.value(section, key).value_or(def));
    // A file that exists but cannot be read is never replaced: writing the default
    // back would lose every other setting in it.
    if (value == def && loaded != Loaded::Unreadable && file.set(section, key, def))
        store(path, file);
    return value;
}

void WriteIniString(const QString &section, const QString &key, const QString &value)
{
    const QString path = platform::settingsFilePath();
    QByteArray content;
    if (load(path, content) == Loaded::Unreadable)
        refuse(path);
    ProfileFile file(content);
    if (file.set(section, key, value))
        store(path, file);
}
