// QTextDocument -> RTF. Every character outside ASCII is written as \uN with one "?"
// for readers without Unicode, so text of any script round-trips whatever the code page.

#include "rtf/Rtf.h"
#include "rtf/RtfEmbedded.h"

#include <QHash>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

#include <cmath>

namespace rtf {
namespace {

constexpr int TwipsPerPixel = 15;   // 1440 per inch at 96 pixels per inch
constexpr int HexPerLine = 128;

struct Run {
    int font = 0;
    int halfPoints = 24;
    int color = 0;   // 0: automatic
    bool bold = false, italic = false, underline = false;
    bool operator==(const Run &) const = default;
};

void appendNumber(QByteArray &out, const char *word, qint64 value)
{
    out += word;
    out += QByteArray::number(value);
}

void appendHex(QByteArray &out, const QByteArray &bytes)
{
    static const char digits[] = "0123456789abcdef";
    const qsizetype start = out.size();
    const qsizetype lines = bytes.size() * 2 / HexPerLine + 1;
    out.resize(start + bytes.size() * 2 + lines * 2);
    char *p = out.data() + start;
    const auto *in = reinterpret_cast<const unsigned char *>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (i % (HexPerLine / 2) == 0) {
            *p++ = '\r';
            *p++ = '\n';
        }
        *p++ = digits[in[i] >> 4];
        *p++ = digits[in[i] & 15];
    }
    out.resize(p - out.constData());
}

void appendText(QByteArray &out, QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += char(u);
        } else if (u == '\t') {
            out += "\\tab ";
        } else if (u == QChar::LineSeparator) {
            out += "\\line ";
        } else if (u == QChar::Nbsp) {
            out += "\\~";
        } else if (u < 0x20) {
            // Other control characters have no place in text.
        } else if (u < 0x80) {
            out += char(u);
        } else {
            appendNumber(out, "\\u", qint16(u));   // RTF numbers are signed 16-bit
            out += '?';
        }
    }
}

class Writer {
public:
    explicit Writer(const QTextDocument &doc) : doc_(doc)
    {
        defaultFamily_ = doc.defaultFont().family();
        fontIndex(defaultFamily_);
        const QFont font = doc.defaultFont();
        defaultHalfPoints_ = font.pointSizeF() > 0 ? qRound(font.pointSizeF() * 2)
                                                   : font.pixelSize() > 0 ? qRound(font.pixelSize() * 1.5) : 24;
    }

    QByteArray write()
    {
        body_.reserve(doc_.characterCount() * 2 + 1024);
        for (QTextBlock block = doc_.begin(); block.isValid(); block = block.next())
            writeBlock(block);

        QByteArray out;
        out.reserve(body_.size() + 1024);
        out += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\r\n{\\fonttbl";
        for (int i = 0; i < fonts_.size(); ++i) {
            appendNumber(out, "{\\f", i);
            out += "\\fnil\\fcharset0 ";
            appendText(out, fonts_[i]);
            out += ";}";
        }
        out += "}\r\n{\\colortbl;";
        for (const QColor &c : colors_) {
            appendNumber(out, "\\red", c.red());
            appendNumber(out, "\\green", c.green());
            appendNumber(out, "\\blue", c.blue());
            out += ';';
        }
        out += "}\r\n\\viewkind4\r\n";
        out += body_;
        out += "}\r\n";
        return out;
    }

private:
    int fontIndex(const QString &family)
    {
        const auto it = fontIndices_.constFind(family);
        if (it != fontIndices_.cend())
            return *it;
        fonts_.append(family);
        fontIndices_.insert(family, int(fonts_.size() - 1));
        return int(fonts_.size() - 1);
    }

    int colorIndex(const QColor &color)
    {
        const QRgb rgb = color.rgb();
        const auto it = colorIndices_.constFind(rgb);
        if (it != colorIndices_.cend())
            return *it;
        colors_.append(color);
        colorIndices_.insert(rgb, int(colors_.size()));   // index 0 is "automatic"
        return int(colors_.size());
    }

    Run runOf(const QTextCharFormat &f)
    {
        Run run;
        QString family;
        const QStringList families = f.fontFamilies().toStringList();
        if (!families.isEmpty())
            family = families.first();
        else if (f.hasProperty(QTextFormat::FontFamily))
            family = f.stringProperty(QTextFormat::FontFamily);
        run.font = family.isEmpty() ? 0 : fontIndex(family);
        if (f.fontPointSize() > 0)
            run.halfPoints = qRound(f.fontPointSize() * 2);
        else if (f.hasProperty(QTextFormat::FontPixelSize))
            run.halfPoints = qRound(f.intProperty(QTextFormat::FontPixelSize) * 1.5);
        else
            run.halfPoints = defaultHalfPoints_;
        if (f.foreground().style() != Qt::NoBrush)
            run.color = colorIndex(f.foreground().color());
        run.bold = f.fontWeight() >= QFont::DemiBold;
        run.italic = f.fontItalic();
        run.underline = f.fontUnderline();
        return run;
    }

    void switchRun(const Run &run)
    {
        if (haveRun_ && run == current_)
            return;
        appendNumber(body_, "\\plain\\f", run.font);
        appendNumber(body_, "\\fs", run.halfPoints);
        if (run.color)
            appendNumber(body_, "\\cf", run.color);
        if (run.bold)
            body_ += "\\b";
        if (run.italic)
            body_ += "\\i";
        if (run.underline)
            body_ += "\\ul";
        body_ += ' ';
        current_ = run;
        haveRun_ = true;
    }

    void writeBlock(const QTextBlock &block)
    {
        body_ += "\\pard";
        switch (block.blockFormat().alignment() & Qt::AlignHorizontal_Mask) {
        case Qt::AlignHCenter: body_ += "\\qc"; break;
        case Qt::AlignRight: body_ += "\\qr"; break;
        case Qt::AlignJustify: body_ += "\\qj"; break;
        default: body_ += "\\ql"; break;
        }
        body_ += ' ';
        haveRun_ = false;   // \pard keeps the character format, but restate it per paragraph
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            switchRun(runOf(format));
            if (format.isImageFormat()) {
                // Equal images next to each other share one fragment.
                const QString text = fragment.text();
                for (const QChar c : text) {
                    if (c == QChar::ObjectReplacementCharacter)
                        writeImage(format.toImageFormat());
                }
            } else {
                appendText(body_, fragment.text());
            }
        }
        body_ += "\\par\r\n";
    }

    void writePict(const QByteArray &blip, const QByteArray &bytes, QSize picSize, QSizeF display)
    {
        body_ += "{\\pict\\picscalex100\\picscaley100";
        appendNumber(body_, "\\picw", picSize.width());
        appendNumber(body_, "\\pich", picSize.height());
        appendNumber(body_, "\\picwgoal", qRound(display.width() * TwipsPerPixel));
        appendNumber(body_, "\\pichgoal", qRound(display.height() * TwipsPerPixel));
        body_ += '\\';
        body_ += blip;
        appendHex(body_, bytes);
        body_ += '}';
    }

    void writeImage(const QTextImageFormat &format)
    {
        const QUrl url(format.name());
        const QImage shown = doc_.resource(QTextDocument::ImageResource, url).value<QImage>();
        QSizeF display(format.width(), format.height());
        if (display.width() <= 0 || display.height() <= 0)
            display = shown.size();
        const std::optional<Embedded> item = embeddedAt(doc_, format);
        if (!item) {
            // An image from elsewhere (pasted HTML): its pixels as PNG.
            if (shown.isNull())
                return;
            body_ += "{\\*\\shppict";
            writePict("pngblip", pngFile(shown), shown.size(), display);
            body_ += '}';
            return;
        }
        if (item->kind == Embedded::Picture) {
            body_ += "{\\*\\shppict";
            // RTF carries a bitmap without the 14-byte header of its .bmp file.
            writePict(item->blip, item->blip.startsWith("dibitmap") ? item->bytes.mid(14) : item->bytes,
                      item->picSize, display);
            body_ += '}';
            return;
        }
        // Other readers show the \result picture; we read the file back from our own group.
        body_ += "{\\object\\objemb{\\*\\objclass Package}";
        appendNumber(body_, "\\objw", qRound(display.width() * TwipsPerPixel));
        appendNumber(body_, "\\objh", qRound(display.height() * TwipsPerPixel));
        body_ += "{\\*\\objdata";
        appendHex(body_, ole1Header());
        body_ += "}{\\*\\quorvelfile{\\*\\quorvelname ";
        appendText(body_, item->name);
        body_ += "}{\\*\\quorveltype ";
        appendText(body_, item->mimeType);
        body_ += "}{\\*\\quorveldata";
        appendHex(body_, item->bytes);
        body_ += "}}{\\result";
        QByteArray icon = item->iconPng;
        QSize iconSize = item->picSize;
        if (icon.isEmpty() || detail::blipFor(icon) != "pngblip") {
            icon = pngFile(shown);
            iconSize = shown.size();
        }
        writePict("pngblip", icon, iconSize, display);
        body_ += "}}";
    }

    // An OLE1 header of an embedded "Package" object without native data: the object's
    // content travels in our own group, and other readers show the \result picture.
    static QByteArray ole1Header()
    {
        static const QByteArray header = [] {
            QByteArray h;
            auto u32 = [&h](quint32 v) {
                for (int i = 0; i < 4; ++i)
                    h += char((v >> (8 * i)) & 0xff);
            };
            u32(0x00000501);   // OLE version
            u32(2);            // embedded object
            u32(8);
            h += QByteArray("Package", 8);
            u32(0);            // topic name
            u32(0);            // item name
            u32(0);            // native data size
            return h;
        }();
        return header;
    }

    const QTextDocument &doc_;
    QString defaultFamily_;
    int defaultHalfPoints_ = 24;
    QStringList fonts_;
    QHash<QString, int> fontIndices_;
    QList<QColor> colors_;
    QHash<QRgb, int> colorIndices_;
    QByteArray body_;
    Run current_;
    bool haveRun_ = false;
};

} // namespace

QByteArray writeRtf(const QTextDocument &doc)
{
    return Writer(doc).write();
}

} // namespace rtf
