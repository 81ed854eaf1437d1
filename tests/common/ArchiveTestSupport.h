#pragma once
// Helpers for the archive tests: files, an independent look at archives through
// libzip, and the outside checkers (unzip -t, Python's zipfile).

#include "support/TempHome.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <ostream>
#include <zip.h>

// Readable QStrings in test failures.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace archivetest {

// A temporary directory in memory where there is such a file system: the writer's
// flushes cost nothing there, and a test that makes many of them is not a disk test.
inline QString memoryTempPattern()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable()
        ? QStringLiteral("/dev/shm/quorvel-test-XXXXXX")
        : QDir::tempPath() + QStringLiteral("/quorvel-test-XXXXXX");
}

// Writes a whole file as testsupport::writeFile does; its path, or empty on failure.
inline QString writeFile(const QString &path, const QByteArray &data)
{
    return testsupport::writeFile(path, data) ? path : QString();
}

using testsupport::readFile;

// Text that compresses somewhat, different for each seed.
inline QByteArray sampleData(int size, int seed)
{
    QByteArray out;
    out.reserve(size);
    quint32 x = 2463534242u ^ quint32(seed * 7919 + 1);
    while (out.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out.append(char('a' + (x % 23)));
        if (x % 11 == 0)
            out.append(' ');
    }
    out.resize(size);
    return out;
}

// Every member's name and content as libzip reads them (checking each CRC);
// nullopt-like empty map with ok=false when the archive cannot be read whole.
struct Contents {
    bool ok = false;
    QMap<QString, QByteArray> members;
    QStringList order;
};

inline Contents readWithLibzip(const QString &archive)
{
    Contents c;
    int err = 0;
    zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    if (!z)
        return c;
    c.ok = true;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n && c.ok; ++i) {
        const QString name = QString::fromUtf8(zip_get_name(z, zip_uint64_t(i), 0));
        zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
        if (!f) {
            c.ok = false;
            break;
        }
        QByteArray data;
        char buf[65536];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0)
            data.append(buf, qsizetype(got));
        if (got < 0)
            c.ok = false;
        zip_fclose(f);
        c.members.insert(name, data);
        c.order.append(name);
    }
    zip_discard(z);
    return c;
}

// True when `unzip -t` and Python's zipfile both find the archive sound.
inline bool outsideReadersAccept(const QString &archive, QString *why = nullptr)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-tqq"), archive});
    unzip.waitForFinished(60000);
    if (unzip.exitStatus() != QProcess::NormalExit || unzip.exitCode() != 0) {
        if (why)
            *why = "unzip: " + QString::fromLocal8Bit(unzip.readAllStandardOutput()
                                                       + unzip.readAllStandardError());
        return false;
    }
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys,zipfile\n"
                                 "z=zipfile.ZipFile(sys.argv[1])\n"
                                 "bad=z.testzip()\n"
                                 "names=[i.filename for i in z.infolist()]\n"
                                 "sys.exit(1 if bad or len(names)!=len(set(names)) else 0)\n"),
                  archive});
    python.waitForFinished(60000);
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        if (why)
            *why = "python: " + QString::fromLocal8Bit(python.readAllStandardError());
        return false;
    }
    return true;
}

// Runs a Python snippet with the given arguments; true when it exits with 0.
inline bool runPython(const QString &code, const QStringList &args)
{
    QProcess python;
    python.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), code} + args);
    python.waitForFinished(60000);
    return python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

// Writes `archive` with Python's zipfile through a stream it cannot seek in, so that
// every member carries a data descriptor and zero sizes in its local header.
// `members` is Python code that fills the ZipFile `z`; true when it ran.
inline bool writeStreamedZip(const QString &archive, const QString &members)
{
    return runPython(QStringLiteral("import sys,zipfile,io\n"
                                    "class W(io.RawIOBase):\n"
                                    "  def __init__(s,f): s.f=f\n"
                                    "  def writable(s): return True\n"
                                    "  def write(s,b): return s.f.write(b)\n"
                                    "f=open(sys.argv[1],'wb')\n"
                                    "z=zipfile.ZipFile(W(f),'w',zipfile.ZIP_DEFLATED)\n")
                         + members + QStringLiteral("z.close(); f.close()\n"),
                     {archive});
}

} // namespace archivetest
