#include "store/TextOps.h"

#include "platform/CaseResolver.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/FileUtil.h"
#include "platform/Prompts.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

template <typename Text>
void cutAtDot(Text &text)
{
    const qsizetype dot = text.indexOf('.');
    if (dot >= 0)
        text.truncate(dot);
}

// Trims every code up to and including the space at both ends.
template <typename Text, typename CodeAt>
Text trimControl(const Text &text, CodeAt codeAt)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && codeAt(text, begin) <= uint(' '))
        ++begin;
    while (end > begin && codeAt(text, end - 1) <= uint(' '))
        --end;
    return text.mid(begin, end - begin);
}

template <typename Text>
Text extractBetween(const Text &text, const Text &open, const Text &close)
{
    const qsizetype at = open.isEmpty() ? -1 : text.indexOf(open);
    if (at < 0)
        return TrimControl(text);
    Text rest = text.mid(at + open.size());
    const qsizetype end = close.isEmpty() ? -1 : rest.indexOf(close);
    if (end >= 0)
        rest.truncate(end);
    return TrimControl(rest);
}

template <typename Text>
Text replaceInOnePass(const Text &text, const Text &piece, const Text &replacement)
{
    Text out;
    qsizetype from = 0;
    for (qsizetype at; (at = text.indexOf(piece, from)) >= 0; from = at + piece.size())
        out += text.mid(from, at - from) + replacement;
    return out + text.mid(from);
}

template <typename Text>
Text replaceAll(const Text &text, const Text &piece, const Text &replacement)
{
    if (piece.isEmpty())
        return text;
    if (replacement.contains(piece))
        return replaceInOnePass(text, piece, replacement);
    // Characters move one by one from `pending` (a stack, next character last) to
    // `out`; when `out` ends in the piece, that is the leftmost occurrence, and its
    // replacement goes back onto `pending` to be read again with its neighbours. This
    // is the rescan from the start without its cost. Some rewrites re-form their
    // piece for ever while the text grows; the step bound catches those.
    const qsizetype bound = 64 * (text.size() + 16);
    Text pending = text;
    std::reverse(pending.begin(), pending.end());
    Text back = replacement;
    std::reverse(back.begin(), back.end());
    Text out;
    out.reserve(text.size());
    for (qsizetype steps = 0; !pending.isEmpty();) {
        out.append(pending.back());
        pending.chop(1);
        if (!out.endsWith(piece))
            continue;
        if (++steps > bound)
            return replaceInOnePass(text, piece, replacement);
        out.chop(piece.size());
        pending.append(back);
    }
    return out;
}

template <typename Text>
void removeAll(Text &text, const Text &piece)
{
    if (!piece.isEmpty())
        text.replace(piece, Text());
}

} // namespace

void CutAtDot(QString &text) { cutAtDot(text); }
void CutAtDot(QByteArray &text) { cutAtDot(text); }

QString TrimControl(const QString &text)
{
    return trimControl(text, [](const QString &t, qsizetype i) { return uint(t.at(i).unicode()); });
}

QByteArray TrimControl(const QByteArray &text)
{
    return trimControl(text, [](const QByteArray &t, qsizetype i) { return uint(uchar(t.at(i))); });
}

QString ExtractBetween(const QString &text, const QString &open, const QString &close)
{
    return extractBetween(text, open, close);
}

QByteArray ExtractBetween(const QByteArray &text, const QByteArray &open,
                          const QByteArray &close)
{
    return extractBetween(text, open, close);
}

void RemoveAll(QString &text, const QString &piece) { removeAll(text, piece); }
void RemoveAll(QByteArray &text, const QByteArray &piece) { removeAll(text, piece); }

QString ReplaceAll(const QString &text, const QString &piece, const QString &replacement)
{
    return replaceAll(text, piece, replacement);
}

QByteArray ReplaceAll(const QByteArray &text, const QByteArray &piece,
                      const QByteArray &replacement)
{
    return replaceAll(text, piece, replacement);
}

QString TimeStampName() { return platform::now().toString("yyyyMMddHHmmss"); }

bool CheckFileExists(const QString &path, const QString &message, bool show)
{
    if (QFileInfo(platform::resolveCase(path)).isFile())
        return true;
    if (show)
        platform::prompts().warning(message);
    return false;
}

QString TextFromStore(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QByteArrayList SplitLines(const QByteArray &content)
{
    QByteArrayList lines = content.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

QByteArray JoinLines(const QByteArrayList &lines)
{
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line + "\r\n";
    return out;
}

QByteArray JoinLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines)
        out += line.toUtf8() + "\r\n";
    return out;
}

bool ReadStoreLine(QIODevice &in, QByteArray &line)
{
    if (in.atEnd())
        return false;
    line = in.readLine();
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

QByteArray ReadStoreFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw platform::Error("Cannot open file " + path);
    QByteArray content = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw platform::Error("Cannot open file " + path);
    return content;
}

void WriteStoreFile(const QString &path, const QByteArray &content, bool durable)
{
    if (!platform::writeFileAtomically(path, content, 0, durable))
        throw platform::Error("Cannot create file " + path);
}

void WriteTemporaryFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw platform::Error("Cannot create file " + path);
    if (f.write(content) != content.size() || !f.flush()) {
        f.remove();
        throw platform::Error("Cannot create file " + path);
    }
}
