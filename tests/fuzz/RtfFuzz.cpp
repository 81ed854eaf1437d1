// libFuzzer target for the RTF reader: any bytes must read without a crash, a hang or
// unbounded memory, and what was read must write out and read back again.
#include "rtf/Rtf.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Pictures and file icons are drawn with QPainter, which needs a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QTextDocument doc;
    const rtf::ReadResult result =
        rtf::readRtf(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), doc);
    if (!result.ok && result.error.isEmpty())
        std::abort();   // a failure must say why
    QTextDocument again;
    if (!rtf::readRtf(rtf::writeRtf(doc), again).ok)
        std::abort();   // our own output must always read
    return 0;
}
