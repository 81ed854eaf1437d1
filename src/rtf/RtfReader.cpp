// RTF -> QTextDocument. One pass over the bytes with an explicit group stack (no
// recursion), so depth, picture size and total size are bounded by named limits and
// malformed input ends in a partial document with a message, never a crash.

#include "mime/HexEscapes.h"
#include "rtf/Rtf.h"
#include "rtf/RtfEmbedded.h"

#include <QBuffer>
#include <QHash>
#include <QImageReader>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>

#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rtf {
namespace {

using mime::detail::hexValue;

constexpr int TwipsPerPixel = 15;
constexpr int MaxWordLength = 32;   // longer control words are read but not recognised

enum class Dest {
    Text,        // the document's text
    Skip,        // a group to step over whole
    Ignore,      // text dropped, control words still obeyed (containers of pictures)
    FontTable,
    ColorTable,
    Pict,        // picture parameters and hex or \bin data
    HexData,     // the bytes of one of our embedded files
    Collect,     // a short text: font alternative, object class, our file's name and type
};

enum class Sink { Emit, ShpPict, NonShpPict, ShapePib, ObjectIcon, Drop };
enum class Collect { None, ObjClass, FileName, FileType, ShapeName };

struct CharState {
    int font = -1;   // -1: the default font
    int halfPoints = 24;
    int color = 0;
    bool bold = false, italic = false, underline = false;
    // Double-byte (CJK) text may have its own size (\dbch\afsN), used while \dbch is on.
    bool dbch = false;
    int dbHalfPoints = 0;
    bool operator==(const CharState &) const = default;

    CharState effective() const
    {
        CharState e = *this;
        if (dbch && dbHalfPoints > 0)
            e.halfPoints = dbHalfPoints;
        e.dbch = false;
        e.dbHalfPoints = 0;
        return e;
    }
};

struct Group {
    Dest dest = Dest::Text;
    Sink sink = Sink::Emit;
    Collect collect = Collect::None;
    CharState chr;
    int align = 0;   // 0 left, 1 centre, 2 right, 3 justified
    int uc = 1;
    int shape = -1;
    int object = -1;
    bool ownsPict = false;
    bool ownsObject = false;
};

struct Picture {
    QByteArray blip;
    QByteArray data;
    int picw = 0, pich = 0, goalw = 0, goalh = 0, scalex = 100, scaley = 100;
    int bitsPixel = 1, planes = 1, widthBytes = 0;
    bool oddNibble = false;
};

struct Shape {
    QString propertyName;
    bool hasPib = false;
};

struct Object {
    bool ours = false;
    QString objClass, name, mimeType;
    QByteArray data, iconBlip, icon;
    int objw = 0, objh = 0;
};

struct Font {
    QString name;
    int codePage = 0;   // 0: the document's
};

struct Shown {
    Embedded item;
    QImage image;
    QSizeF size;
};

enum class Word {
    Unknown, Rtf, Ansi, AnsiCpg, Pc, Pca, Mac, Deff, Uc, U, Bin,
    Plain, F, Fs, Afs, Loch, Dbch, Cf, B, I, Ul, UlNone, FCharset, Red, Green, Blue,
    Pard, Par, Ql, Qc, Qr, Qj, Line, Tab, Cell, Row, Char,
    FontTbl, ColorTbl, SkipDest, Pict, ShpPict, NonShpPict, Shp, ShpInst, Sp, Sn, Sv, ShpRslt,
    Object, ObjClass, ObjData, Result, ObjW, ObjH, Fldrslt, OurFile, OurName, OurType, OurData,
    PicW, PicH, PicWGoal, PicHGoal, PicScaleX, PicScaleY, Blip, WbmBitsPixel, WbmPlanes, WbmWidthBytes,
};

struct WordInfo {
    Word word;
    char16_t ch = 0;   // for Word::Char
};

const std::unordered_map<std::string_view, WordInfo> &words()
{
    static const std::unordered_map<std::string_view, WordInfo> table = [] {
        std::unordered_map<std::string_view, WordInfo> t = {
            {"rtf", {Word::Rtf}}, {"ansi", {Word::Ansi}}, {"ansicpg", {Word::AnsiCpg}},
            {"pc", {Word::Pc}}, {"pca", {Word::Pca}}, {"mac", {Word::Mac}}, {"deff", {Word::Deff}},
            {"uc", {Word::Uc}}, {"u", {Word::U}}, {"bin", {Word::Bin}},
            {"plain", {Word::Plain}}, {"f", {Word::F}}, {"fs", {Word::Fs}}, {"afs", {Word::Afs}},
            {"loch", {Word::Loch}}, {"hich", {Word::Loch}}, {"dbch", {Word::Dbch}}, {"cf", {Word::Cf}},
            {"b", {Word::B}}, {"i", {Word::I}}, {"ul", {Word::Ul}}, {"uld", {Word::Ul}},
            {"uldb", {Word::Ul}}, {"ulw", {Word::Ul}}, {"ulth", {Word::Ul}}, {"ulnone", {Word::UlNone}},
            {"fcharset", {Word::FCharset}}, {"red", {Word::Red}}, {"green", {Word::Green}},
            {"blue", {Word::Blue}}, {"pard", {Word::Pard}}, {"par", {Word::Par}}, {"page", {Word::Par}},
            {"sect", {Word::Par}}, {"ql", {Word::Ql}}, {"qc", {Word::Qc}}, {"qr", {Word::Qr}},
            {"qj", {Word::Qj}}, {"line", {Word::Line}}, {"lbr", {Word::Line}}, {"tab", {Word::Tab}},
            {"cell", {Word::Cell}}, {"nestcell", {Word::Cell}}, {"row", {Word::Row}},
            {"nestrow", {Word::Row}},
            {"emdash", {Word::Char, 0x2014}}, {"endash", {Word::Char, 0x2013}},
            {"lquote", {Word::Char, 0x2018}}, {"rquote", {Word::Char, 0x2019}},
            {"ldblquote", {Word::Char, 0x201c}}, {"rdblquote", {Word::Char, 0x201d}},
            {"bullet", {Word::Char, 0x2022}}, {"emspace", {Word::Char, 0x2003}},
            {"enspace", {Word::Char, 0x2002}}, {"qmspace", {Word::Char, 0x2005}},
            {"zwj", {Word::Char, 0x200d}}, {"zwnj", {Word::Char, 0x200c}},
            {"fonttbl", {Word::FontTbl}}, {"colortbl", {Word::ColorTbl}},
            {"pict", {Word::Pict}}, {"shppict", {Word::ShpPict}}, {"nonshppict", {Word::NonShpPict}},
            {"shp", {Word::Shp}}, {"shpinst", {Word::ShpInst}}, {"sp", {Word::Sp}}, {"sn", {Word::Sn}},
            {"sv", {Word::Sv}}, {"shprslt", {Word::ShpRslt}}, {"object", {Word::Object}},
            {"objclass", {Word::ObjClass}}, {"objdata", {Word::ObjData}}, {"result", {Word::Result}},
            {"objw", {Word::ObjW}}, {"objh", {Word::ObjH}}, {"fldrslt", {Word::Fldrslt}},
            {"quorvelfile", {Word::OurFile}}, {"quorvelname", {Word::OurName}},
            {"quorveltype", {Word::OurType}}, {"quorveldata", {Word::OurData}},
            {"picw", {Word::PicW}}, {"pich", {Word::PicH}}, {"picwgoal", {Word::PicWGoal}},
            {"pichgoal", {Word::PicHGoal}}, {"picscalex", {Word::PicScaleX}},
            {"picscaley", {Word::PicScaleY}}, {"pngblip", {Word::Blip}}, {"jpegblip", {Word::Blip}},
            {"emfblip", {Word::Blip}}, {"wmetafile", {Word::Blip}}, {"dibitmap", {Word::Blip}},
            {"wbitmap", {Word::Blip}}, {"macpict", {Word::Blip}}, {"pmmetafile", {Word::Blip}},
            {"wbmbitspixel", {Word::WbmBitsPixel}}, {"wbmplanes", {Word::WbmPlanes}},
            {"wbmwidthbytes", {Word::WbmWidthBytes}},
        };
        // Destinations whose content is not part of the text, starred or not.
        for (const char *w : {"stylesheet", "info", "listtable", "listoverridetable", "revtbl",
                              "rsidtbl", "header", "headerl", "headerr", "headerf", "footer",
                              "footerl", "footerr", "footerf", "footnote", "annotation", "xe", "tc",
                              "template", "pn", "ftnsep", "ftnsepc", "ftncn", "aftnsep", "aftnsepc",
                              "aftncn", "txe", "do", "docvar", "userprops", "xmlnstbl", "fldinst",
                              "themedata", "colorschememapping", "datastore", "latentstyles",
                              "generator", "pgdsctbl", "listpicture", "picprop", "blipuid", "panose",
                              "falt", "shptxt", "atnid", "atnauthor", "bkmkstart", "bkmkend"})
            t.emplace(w, WordInfo{Word::SkipDest});
        return t;
    }();
    return table;
}

int codePageOfCharset(int charset)
{
    switch (charset) {
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 254: return 437;
    case 255: return 850;
    default: return 0;
    }
}

const char *codecName(int codePage)
{
    switch (codePage) {
    case 437: return "IBM437";
    case 850: return "IBM850";
    case 852: return "IBM852";
    case 866: return "IBM866";
    case 874: return "windows-874";
    case 932: return "Shift_JIS";
    case 936: return "GBK";
    case 949: return "windows-949";
    case 950: return "Big5";
    case 10000: return "macintosh";
    case 65001: return "UTF-8";
    default:
        if (codePage >= 1250 && codePage <= 1258) {
            static const char *names[] = {"windows-1250", "windows-1251", "windows-1252",
                                          "windows-1253", "windows-1254", "windows-1255",
                                          "windows-1256", "windows-1257", "windows-1258"};
            return names[codePage - 1250];
        }
        return "windows-1252";
    }
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class Reader {
public:
    Reader(const QByteArray &data, QTextDocument &doc) : data_(data), doc_(doc), cursor_(&doc) {}

    ReadResult read()
    {
        const qsizetype start = data_.indexOf('{');
        if (data_.size() > MaxInputBytes) {
            fail(QStringLiteral("The RTF file is larger than %1 MB.").arg(MaxInputBytes >> 20));
            return result_;
        }
        if (start < 0 || !QByteArrayView(data_).sliced(start).startsWith("{\\rtf")
            || !QByteArrayView(data_).first(start).trimmed().isEmpty()) {
            fail(QStringLiteral("This is not an RTF file."));
            return result_;
        }
        p_ = data_.constData() + start;
        end_ = data_.constData() + data_.size();
        stack_.reserve(64);
        stack_.push_back(Group{});
        stack_.back().dest = Dest::Skip;   // nothing outside the document group
        parse();
        finish();
        return result_;
    }

private:
    Group &state() { return stack_.back(); }

    void fail(const QString &error)
    {
        if (result_.ok) {
            result_.ok = false;
            result_.error = error;
        }
        stopped_ = true;
    }

    void warn(const QString &text)
    {
        if (!result_.warnings.contains(text))
            result_.warnings.append(text);
    }

    void parse()
    {
        while (p_ < end_ && !stopped_) {
            if (started_ && stack_.size() == 1)
                break;   // the document group is closed: what follows is not read
            const char c = *p_;
            if (c == '{') {
                ++p_;
                openGroup();
                continue;
            }
            if (c == '}') {
                ++p_;
                closeGroup();
                continue;
            }
            if (c == '\\') {
                control();
                continue;
            }
            if (c == '\r' || c == '\n') {
                ++p_;
                continue;
            }
            switch (state().dest) {
            case Dest::Skip:
                skipGroup();
                break;
            case Dest::Pict:
            case Dest::HexData:
                hexRun();
                break;
            default:
                textRun();
                break;
            }
        }
    }

    void openGroup()
    {
        flushBytes();
        skipChars_ = 0;
        if (stack_.size() > MaxGroupDepth) {
            fail(QStringLiteral("The RTF groups are nested deeper than %1 levels.").arg(MaxGroupDepth));
            return;
        }
        Group next = state();
        next.ownsPict = next.ownsObject = false;
        if (stack_.size() == 1) {
            next.dest = Dest::Text;
            started_ = true;
        }
        stack_.push_back(next);
        if (state().dest == Dest::Skip)
            skipGroup();
    }

    void closeGroup()
    {
        flushBytes();
        skipChars_ = 0;
        if (stack_.size() == 1) {
            warn(QStringLiteral("The RTF file has more closing braces than opening ones."));
            return;
        }
        const Group closing = state();
        if (closing.ownsPict)
            finishPicture(closing.sink);
        if (closing.dest == Dest::FontTable && closing.collect == Collect::None && !fontName_.isEmpty())
            commitFont();
        stack_.pop_back();
        if (closing.ownsObject)
            finishObject(closing.object);
    }

    // Steps over the rest of a group that is skipped whole, \bin data included.
    void skipGroup()
    {
        int depth = 0;
        while (p_ < end_) {
            const char c = *p_++;
            if (c == '{') {
                ++depth;
            } else if (c == '}') {
                if (depth-- == 0) {
                    if (stack_.size() > 1)
                        stack_.pop_back();
                    return;
                }
            } else if (c == '\\' && p_ < end_) {
                if (!isLetter(*p_)) {
                    ++p_;
                    continue;
                }
                const char *word = p_;
                while (p_ < end_ && isLetter(*p_))
                    ++p_;
                if (p_ - word == 3 && std::string_view(word, 3) == "bin") {
                    const qint64 n = number();
                    binSkip(n);
                }
            }
        }
    }

    qint64 number()
    {
        bool negative = false;
        if (p_ < end_ && *p_ == '-' && p_ + 1 < end_ && isDigit(p_[1])) {
            negative = true;
            ++p_;
        }
        qint64 value = 0;
        while (p_ < end_ && isDigit(*p_)) {
            if (value < 1'000'000'000'000)
                value = value * 10 + (*p_ - '0');
            ++p_;
        }
        if (p_ < end_ && *p_ == ' ')
            ++p_;
        return negative ? -value : value;
    }

    qsizetype binSkip(qint64 n)
    {
        if (n < 0)
            n = 0;
        if (n > end_ - p_) {
            warn(QStringLiteral("A \\bin block runs past the end of the file."));
            n = end_ - p_;
        }
        p_ += n;
        return qsizetype(n);
    }

    void control()
    {
        ++p_;
        if (p_ >= end_)
            return;
        const char c = *p_;
        if (isLetter(c)) {
            const char *start = p_;
            while (p_ < end_ && isLetter(*p_))
                ++p_;
            const std::string_view name(start, size_t(p_ - start));
            const bool hasParam = p_ < end_ && (isDigit(*p_) || (*p_ == '-' && p_ + 1 < end_ && isDigit(p_[1])));
            const qint64 param = hasParam ? number() : ((p_ < end_ && *p_ == ' ') ? (++p_, 0) : 0);
            word(name, hasParam, param);
            return;
        }
        ++p_;
        if (c == '\'') {
            if (end_ - p_ < 2 || hexValue(p_[0]) < 0 || hexValue(p_[1]) < 0) {
                warn(QStringLiteral("A \\' escape is cut short."));
                p_ = std::min(p_ + 2, end_);
                return;
            }
            const char byte = char(hexValue(p_[0]) << 4 | hexValue(p_[1]));
            p_ += 2;
            if (skipChars_ > 0)
                --skipChars_;
            else if (state().dest != Dest::Pict && state().dest != Dest::HexData)
                pending_ += byte;
            return;
        }
        if (c == '*') {
            starred_ = true;
            return;
        }
        flushBytes();
        if (skipChars_ > 0) {
            --skipChars_;
            return;
        }
        switch (c) {
        case '\\': case '{': case '}': addText(QString(QChar(c))); break;
        case '~': addText(QString(QChar(QChar::Nbsp))); break;
        case '_': addText(QString(QChar(0x2011))); break;
        case '\r': case '\n': paragraph(); break;
        case '\t': addText(QStringLiteral("\t")); break;
        default: break;   // \- \| \: and others carry nothing we show
        }
    }

    void word(std::string_view name, bool hasParam, qint64 param)
    {
        flushBytes();
        const bool starred = std::exchange(starred_, false);
        const auto found = name.size() <= size_t(MaxWordLength) ? words().find(name) : words().end();
        const Word w = found == words().end() ? Word::Unknown : found->second.word;
        if (skipChars_ > 0 && w != Word::Bin) {
            --skipChars_;
            return;
        }
        if (starred && !isDestination(w)) {
            state().dest = Dest::Skip;
            skipGroup();
            return;
        }
        Group &g = state();
        const int value = int(std::clamp<qint64>(param, -(1 << 30), 1 << 30));
        switch (w) {
        case Word::Unknown: case Word::Rtf: case Word::Ansi:
            break;
        case Word::AnsiCpg: codePage_ = value; break;
        case Word::Pc: codePage_ = 437; break;
        case Word::Pca: codePage_ = 850; break;
        case Word::Mac: codePage_ = 10000; break;
        case Word::Deff: defaultFont_ = value; break;
        case Word::Uc: g.uc = std::clamp(value, 0, 64); break;
        case Word::U:
            addText(QString(QChar(char16_t(value < 0 ? value + 65536 : value))));
            skipChars_ = g.uc;
            break;
        case Word::Bin: bin(param); break;
        case Word::Plain: g.chr = CharState{}; break;
        case Word::F:
            if (g.dest == Dest::FontTable) {
                if (!fontName_.isEmpty())
                    commitFont();
                fontNumber_ = value;
                fontCharset_ = 0;
            } else {
                g.chr.font = value;
            }
            break;
        case Word::FCharset: fontCharset_ = value; break;
        case Word::Fs: g.chr.halfPoints = hasParam ? std::clamp(value, 2, 3276) : 24; break;
        case Word::Afs:
            if (g.chr.dbch)
                g.chr.dbHalfPoints = std::clamp(value, 2, 3276);
            break;
        case Word::Loch: g.chr.dbch = false; break;
        case Word::Dbch: g.chr.dbch = true; break;
        case Word::Cf: g.chr.color = value; break;
        case Word::B: g.chr.bold = !hasParam || value != 0; break;
        case Word::I: g.chr.italic = !hasParam || value != 0; break;
        case Word::Ul: g.chr.underline = !hasParam || value != 0; break;
        case Word::UlNone: g.chr.underline = false; break;
        case Word::Red: color_.setRed(std::clamp(value, 0, 255)); colorSeen_ = true; break;
        case Word::Green: color_.setGreen(std::clamp(value, 0, 255)); colorSeen_ = true; break;
        case Word::Blue: color_.setBlue(std::clamp(value, 0, 255)); colorSeen_ = true; break;
        case Word::Pard: g.align = 0; break;
        case Word::Ql: g.align = 0; break;
        case Word::Qc: g.align = 1; break;
        case Word::Qr: g.align = 2; break;
        case Word::Qj: g.align = 3; break;
        case Word::Par: paragraph(); break;
        case Word::Line: addText(QString(QChar(QChar::LineSeparator))); break;
        case Word::Tab: case Word::Cell: addText(QStringLiteral("\t")); break;
        case Word::Row:
            if (g.dest == Dest::Text) {
                if (run_.endsWith('\t'))
                    run_.chop(1);
                paragraph();
            }
            break;
        case Word::Char: addText(QString(QChar(found->second.ch))); break;
        case Word::FontTbl: g.dest = Dest::FontTable; break;
        case Word::ColorTbl:
            g.dest = Dest::ColorTable;
            color_ = QColor(0, 0, 0);
            colorSeen_ = false;
            break;
        case Word::SkipDest:
        case Word::ObjData:
            g.dest = Dest::Skip;
            skipGroup();
            break;
        case Word::Pict:
            if (g.dest == Dest::Pict || g.sink == Sink::Drop || g.dest == Dest::Skip) {
                g.dest = Dest::Skip;
                skipGroup();
                break;
            }
            g.dest = Dest::Pict;
            g.ownsPict = true;
            pict_ = Picture{};
            hexHigh_ = -1;
            break;
        case Word::ShpPict: g.dest = Dest::Ignore; g.sink = Sink::ShpPict; break;
        case Word::NonShpPict: g.dest = Dest::Ignore; g.sink = Sink::NonShpPict; break;
        case Word::Shp:
            shapes_.push_back(Shape{});
            g.shape = int(shapes_.size() - 1);
            break;
        case Word::ShpInst: g.dest = Dest::Ignore; g.sink = Sink::Drop; break;
        case Word::Sp:
            g.dest = Dest::Ignore;
            if (g.shape >= 0)
                shapes_[size_t(g.shape)].propertyName.clear();
            break;
        case Word::Sn: g.dest = Dest::Collect; g.collect = Collect::ShapeName; break;
        case Word::Sv:
            if (g.shape >= 0 && shapes_[size_t(g.shape)].propertyName.trimmed() == QLatin1String("pib")) {
                g.dest = Dest::Ignore;
                g.sink = Sink::ShapePib;
            } else {
                g.dest = Dest::Skip;
                skipGroup();
            }
            break;
        case Word::ShpRslt:
            if (g.shape >= 0 && shapes_[size_t(g.shape)].hasPib) {
                g.dest = Dest::Skip;
                skipGroup();
            } else {
                g.dest = Dest::Text;
                g.sink = Sink::Emit;
            }
            break;
        case Word::Object:
            objects_.push_back(Object{});
            g.object = int(objects_.size() - 1);
            g.ownsObject = true;
            g.dest = Dest::Ignore;
            g.sink = Sink::Drop;
            break;
        case Word::ObjClass: collectInto(g, Collect::ObjClass); break;
        case Word::ObjW: if (g.object >= 0) objects_[size_t(g.object)].objw = value; break;
        case Word::ObjH: if (g.object >= 0) objects_[size_t(g.object)].objh = value; break;
        case Word::Result:
            if (g.object >= 0 && objects_[size_t(g.object)].ours) {
                g.dest = Dest::Ignore;
                g.sink = Sink::ObjectIcon;
            } else {
                g.dest = Dest::Text;
                g.sink = Sink::Emit;
            }
            break;
        case Word::Fldrslt: g.dest = Dest::Text; break;
        case Word::OurFile:
            if (g.object >= 0) {
                objects_[size_t(g.object)].ours = true;
                g.dest = Dest::Ignore;
            } else {
                g.dest = Dest::Skip;
                skipGroup();
            }
            break;
        case Word::OurName: collectInto(g, Collect::FileName); break;
        case Word::OurType: collectInto(g, Collect::FileType); break;
        case Word::OurData:
            if (g.object >= 0) {
                g.dest = Dest::HexData;
                hexHigh_ = -1;
            } else {
                g.dest = Dest::Skip;
                skipGroup();
            }
            break;
        case Word::PicW: pict_.picw = value; break;
        case Word::PicH: pict_.pich = value; break;
        case Word::PicWGoal: pict_.goalw = value; break;
        case Word::PicHGoal: pict_.goalh = value; break;
        case Word::PicScaleX: pict_.scalex = value; break;
        case Word::PicScaleY: pict_.scaley = value; break;
        case Word::Blip:
            if (g.dest == Dest::Pict)
                pict_.blip = QByteArray(name.data(), qsizetype(name.size()))
                             + (hasParam ? QByteArray::number(value) : QByteArray());
            break;
        case Word::WbmBitsPixel: pict_.bitsPixel = value; break;
        case Word::WbmPlanes: pict_.planes = value; break;
        case Word::WbmWidthBytes: pict_.widthBytes = value; break;
        }
    }

    static bool isDestination(Word w)
    {
        switch (w) {
        case Word::FontTbl: case Word::ColorTbl: case Word::SkipDest: case Word::Pict:
        case Word::ShpPict: case Word::NonShpPict: case Word::Shp: case Word::ShpInst:
        case Word::Sp: case Word::Sn: case Word::Sv: case Word::ShpRslt: case Word::Object:
        case Word::ObjClass: case Word::ObjData: case Word::Result: case Word::Fldrslt:
        case Word::OurFile: case Word::OurName: case Word::OurType: case Word::OurData:
            return true;
        default:
            return false;
        }
    }

    void collectInto(Group &g, Collect what)
    {
        if (g.object < 0) {
            g.dest = Dest::Skip;
            skipGroup();
            return;
        }
        g.dest = Dest::Collect;
        g.collect = what;
    }

    void bin(qint64 n)
    {
        skipChars_ = 0;
        const char *from = p_;
        const qsizetype size = binSkip(n);
        const Dest dest = state().dest;
        if (dest == Dest::Pict)
            appendData(pict_.data, QByteArrayView(from, size));
        else if (dest == Dest::HexData && state().object >= 0)
            appendData(objects_[size_t(state().object)].data, QByteArrayView(from, size));
    }

    QByteArray *hexTarget()
    {
        if (state().dest == Dest::Pict)
            return &pict_.data;
        if (state().object >= 0)
            return &objects_[size_t(state().object)].data;
        return nullptr;
    }

    bool appendData(QByteArray &target, QByteArrayView bytes)
    {
        if (target.size() + bytes.size() > MaxItemBytes) {
            fail(QStringLiteral("A picture or embedded file is larger than %1 MB.").arg(MaxItemBytes >> 20));
            return false;
        }
        embeddedBytes_ += bytes.size();
        if (embeddedBytes_ > MaxEmbeddedBytes) {
            fail(QStringLiteral("The pictures and embedded files are larger than %1 MB together.")
                     .arg(MaxEmbeddedBytes >> 20));
            return false;
        }
        target.append(bytes);
        return true;
    }

    // Hex digits of picture or file data, white space and stray characters between them.
    void hexRun()
    {
        QByteArray *target = hexTarget();
        const char *run = p_;
        while (p_ < end_ && *p_ != '\\' && *p_ != '{' && *p_ != '}')
            ++p_;
        if (!target)
            return;
        QByteArray bytes;
        bytes.reserve((p_ - run) / 2 + 1);
        for (const char *q = run; q < p_; ++q) {
            const int v = hexValue(*q);
            if (v < 0)
                continue;
            if (hexHigh_ < 0) {
                hexHigh_ = v;
            } else {
                bytes += char(hexHigh_ << 4 | v);
                hexHigh_ = -1;
            }
        }
        appendData(*target, bytes);
    }

    void textRun()
    {
        const char *run = p_;
        if (skipChars_ > 0) {
            --skipChars_;
            ++p_;
            return;
        }
        while (p_ < end_ && *p_ != '\\' && *p_ != '{' && *p_ != '}' && *p_ != '\r' && *p_ != '\n')
            ++p_;
        pending_.append(run, p_ - run);
    }

    int currentCodePage()
    {
        const Group &g = state();
        if (g.dest == Dest::FontTable) {
            const int cp = codePageOfCharset(fontCharset_);
            return cp ? cp : codePage_;
        }
        const auto font = fonts_.find(g.chr.font < 0 ? defaultFont_ : g.chr.font);
        if (font != fonts_.end() && font->second.codePage)
            return font->second.codePage;
        return codePage_;
    }

    void flushBytes()
    {
        if (pending_.isEmpty())
            return;
        bool ascii = true;
        for (const char c : std::as_const(pending_))
            ascii = ascii && quint8(c) < 0x80;
        if (ascii) {
            addText(QString::fromLatin1(pending_));
        } else {
            const int cp = currentCodePage();
            auto it = decoders_.find(cp);
            if (it == decoders_.end())
                it = decoders_.emplace(cp, QStringDecoder(codecName(cp), QStringDecoder::Flag::Stateless)).first;
            if (it->second.isValid()) {
                addText(it->second.decode(pending_));
            } else {
                warn(QStringLiteral("Code page %1 is not supported; its characters are read as Latin-1.").arg(cp));
                addText(QString::fromLatin1(pending_));
            }
        }
        pending_.clear();
    }

    void addText(const QString &text)
    {
        Group &g = state();
        switch (g.dest) {
        case Dest::Text:
            flushFallback();
            afterShppict_ = false;
            if (!(g.chr.effective() == runChr_) && !run_.isEmpty())
                flushRun();
            runChr_ = g.chr.effective();
            for (const QChar c : text)
                if (c.unicode() >= 0x20 || c == '\t')
                    run_ += c;
            break;
        case Dest::FontTable:
            for (const QChar c : text) {
                if (c == ';')
                    commitFont();
                else
                    fontName_ += c;
            }
            break;
        case Dest::ColorTable:
            for (const QChar c : text) {
                if (c == ';') {
                    colors_.push_back(colorSeen_ ? std::optional<QColor>(color_) : std::nullopt);
                    color_ = QColor(0, 0, 0);
                    colorSeen_ = false;
                }
            }
            break;
        case Dest::Collect:
            collected(g) += text;
            break;
        default:
            break;
        }
    }

    QString &collected(const Group &g)
    {
        static QString sink;
        if (g.collect == Collect::ShapeName && g.shape >= 0)
            return shapes_[size_t(g.shape)].propertyName;
        if (g.object >= 0) {
            Object &o = objects_[size_t(g.object)];
            if (g.collect == Collect::ObjClass)
                return o.objClass;
            if (g.collect == Collect::FileName)
                return o.name;
            if (g.collect == Collect::FileType)
                return o.mimeType;
        }
        sink.clear();
        return sink;
    }

    void commitFont()
    {
        Font font;
        font.name = fontName_.trimmed();
        font.codePage = codePageOfCharset(fontCharset_);
        fonts_[fontNumber_] = font;
        fontName_.clear();
    }

    QTextCharFormat charFormat(const CharState &c) const
    {
        QTextCharFormat f;
        const auto font = fonts_.find(c.font < 0 ? defaultFont_ : c.font);
        if (font != fonts_.end() && !font->second.name.isEmpty())
            f.setFontFamilies({font->second.name});
        f.setFontPointSize(c.halfPoints / 2.0);
        if (c.color > 0 && size_t(c.color) < colors_.size() && colors_[size_t(c.color)])
            f.setForeground(*colors_[size_t(c.color)]);
        if (c.bold)
            f.setFontWeight(QFont::Bold);
        if (c.italic)
            f.setFontItalic(true);
        if (c.underline)
            f.setFontUnderline(true);
        return f;
    }

    void flushRun()
    {
        if (run_.isEmpty())
            return;
        cursor_.insertText(run_, charFormat(runChr_));
        run_.clear();
        contentSincePar_ = true;
    }

    void applyBlockFormat(int align)
    {
        if (align == 0)
            return;
        QTextBlockFormat f;
        f.setAlignment(align == 1 ? Qt::AlignHCenter : align == 2 ? Qt::AlignRight : Qt::AlignJustify);
        cursor_.mergeBlockFormat(f);
    }

    void paragraph()
    {
        if (state().dest != Dest::Text)
            return;
        flushFallback();
        afterShppict_ = false;
        flushRun();
        applyBlockFormat(state().align);
        cursor_.insertBlock(QTextBlockFormat(), charFormat(state().chr));
        contentSincePar_ = false;
        paragraphs_++;
    }

    // --- pictures and objects ---

    std::optional<Shown> makePicture(Picture &pic)
    {
        if (pic.oddNibble || hexHigh_ >= 0)
            warn(QStringLiteral("A picture's hex data is cut short."));
        hexHigh_ = -1;
        if (pic.data.isEmpty()) {
            warn(QStringLiteral("A picture without data was left out."));
            return std::nullopt;
        }
        Shown shown;
        Embedded &item = shown.item;
        item.bytes = pic.data;
        item.blip = pic.blip;
        bool bitmap = true;
        if (pic.blip.isEmpty())
            item.blip = detail::blipFor(pic.data);
        if (item.blip == "pngblip" || item.blip == "jpegblip") {
            shown.image = decode(pic.data, item.blip == "pngblip" ? "PNG" : "JPEG");
        } else if (item.blip.startsWith("dibitmap")) {
            item.bytes = detail::bmpFromDib(pic.data);
            if (item.bytes.isEmpty()) {
                warn(QStringLiteral("A damaged bitmap picture was left out."));
                return std::nullopt;
            }
            shown.image = decode(item.bytes, "BMP");
        } else if (item.blip.startsWith("wbitmap")) {
            if (qint64(pic.picw) * pic.pich * 4 <= MaxShownBytes - shownBytes_)
                shown.image = deviceBitmap(pic);
            shownBytes_ += shown.image.sizeInBytes();
            if (!shown.image.isNull()) {
                // Kept as PNG: a raw device bitmap needs parameters we do not carry.
                item.bytes = pngFile(shown.image);
                item.blip = "pngblip";
            }
        } else {
            bitmap = false;
            if (item.blip.isEmpty()) {
                warn(QStringLiteral("A picture of unknown format was left out."));
                return std::nullopt;
            }
        }
        QSizeF size;
        if (pic.goalw > 0 && pic.goalh > 0)
            size = QSizeF(pic.goalw / double(TwipsPerPixel), pic.goalh / double(TwipsPerPixel));
        else if (bitmap && pic.picw > 0 && pic.pich > 0)
            size = QSizeF(pic.picw, pic.pich);
        else if (!shown.image.isNull())
            size = shown.image.size();
        else
            size = QSizeF(96, 96);
        const double sx = pic.scalex > 0 ? pic.scalex / 100.0 : 1.0;
        const double sy = pic.scaley > 0 ? pic.scaley / 100.0 : 1.0;
        size = QSizeF(std::clamp(size.width() * sx, 1.0, 10000.0), std::clamp(size.height() * sy, 1.0, 10000.0));
        if (shown.image.isNull()) {
            if (bitmap && !tooLarge_)
                warn(QStringLiteral("A picture could not be decoded; a placeholder is shown."));
            tooLarge_ = false;
            shown.image = detail::placeholder(size.toSize());
        }
        item.picSize = pic.picw > 0 && pic.pich > 0 ? QSize(pic.picw, pic.pich) : shown.image.size();
        shown.size = size;
        return shown;
    }

    // Decodes a picture for display within the budget of all shown pictures; the same
    // bytes again share one image.
    QImage decode(const QByteArray &bytes, const char *format)
    {
        const auto cached = decoded_.constFind(bytes);
        if (cached != decoded_.cend())
            return *cached;
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, format);
        const QSize size = reader.size();
        if (size.isValid() && qint64(size.width()) * size.height() * 4 > MaxShownBytes - shownBytes_) {
            warn(QStringLiteral("A picture is too large to show; a placeholder is shown."));
            tooLarge_ = true;
            return {};
        }
        const QImage image = reader.read();
        shownBytes_ += image.sizeInBytes();
        decoded_.insert(bytes, image);
        return image;
    }

    // A Windows device-dependent bitmap (\wbitmap): rows of widthBytes, top row first.
    static QImage deviceBitmap(const Picture &pic)
    {
        const int w = pic.picw, h = pic.pich, bpp = pic.bitsPixel * pic.planes;
        const int stride = pic.widthBytes > 0 ? pic.widthBytes : ((w * bpp + 15) / 16) * 2;
        if (w <= 0 || h <= 0 || w > 10000 || h > 10000 || (bpp != 1 && bpp != 24 && bpp != 32)
            || qint64(stride) * h > pic.data.size() || qint64(stride) * 8 < qint64(w) * bpp)
            return {};
        QImage image(w, h, QImage::Format_RGB32);
        const auto *bits = reinterpret_cast<const uchar *>(pic.data.constData());
        for (int y = 0; y < h; ++y) {
            const uchar *row = bits + qsizetype(y) * stride;
            auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                if (bpp == 1)
                    out[x] = (row[x / 8] >> (7 - x % 8)) & 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
                else
                    out[x] = qRgb(row[x * (bpp / 8) + 2], row[x * (bpp / 8) + 1], row[x * (bpp / 8)]);
            }
        }
        return image;
    }

    void insertShown(const Shown &shown)
    {
        flushRun();
        cursor_.insertImage(detail::imageInText(
            charFormat(state().chr), detail::addEmbedded(doc_, shown.item, shown.image, shown.size)));
        contentSincePar_ = true;
    }

    void flushFallback()
    {
        if (fallback_) {
            insertShown(*fallback_);
            fallback_.reset();
        }
    }

    void finishPicture(Sink sink)
    {
        std::optional<Shown> shown = makePicture(pict_);
        pict_ = Picture{};
        if (!shown || stopped_)
            return;
        switch (sink) {
        case Sink::Emit:
            flushFallback();
            insertShown(*shown);
            afterShppict_ = false;
            break;
        case Sink::ShpPict:
            fallback_.reset();   // a \nonshppict just before is the same picture
            insertShown(*shown);
            afterShppict_ = true;
            break;
        case Sink::NonShpPict:
            if (std::exchange(afterShppict_, false))
                break;
            flushFallback();
            fallback_ = std::move(shown);
            break;
        case Sink::ShapePib:
            flushFallback();
            insertShown(*shown);
            if (state().shape >= 0)
                shapes_[size_t(state().shape)].hasPib = true;
            break;
        case Sink::ObjectIcon:
            if (state().object >= 0 && objects_[size_t(state().object)].icon.isEmpty()) {
                objects_[size_t(state().object)].icon = shown->item.bytes;
                objects_[size_t(state().object)].iconBlip = shown->item.blip;
            }
            break;
        case Sink::Drop:
            break;
        }
    }

    void finishObject(int index)
    {
        if (index < 0 || size_t(index) >= objects_.size() || stopped_)
            return;
        Object &o = objects_[size_t(index)];
        if (!o.ours)
            return;   // another writer's object: its \result was read as content
        if (hexHigh_ >= 0)
            warn(QStringLiteral("An embedded file's hex data is cut short."));
        hexHigh_ = -1;
        Shown shown;
        shown.item.kind = Embedded::File;
        shown.item.bytes = o.data;
        shown.item.name = o.name.trimmed();
        shown.item.mimeType = o.mimeType.trimmed();
        if (o.iconBlip == "pngblip")
            shown.image = decode(o.icon, "PNG");
        if (shown.image.isNull()) {
            shown.image = fileIcon(shown.item.name);
        } else {
            shown.item.iconPng = o.icon;
        }
        shown.item.picSize = shown.image.size();
        shown.size = o.objw > 0 && o.objh > 0
                         ? QSizeF(o.objw / double(TwipsPerPixel), o.objh / double(TwipsPerPixel))
                         : QSizeF(shown.image.size());
        flushFallback();
        insertShown(shown);
    }

    void finish()
    {
        flushBytes();
        flushFallback();
        flushRun();
        if (result_.ok && started_ && stack_.size() > 1)
            warn(QStringLiteral("The RTF file ends before all its groups are closed."));
        if (paragraphs_ > 0 && !contentSincePar_ && cursor_.block().length() == 1) {
            // The \par that ends the last paragraph opens no new one.
            cursor_.deletePreviousChar();
        } else if (stack_.size() > 1) {
            applyBlockFormat(state().align);
        }
    }

    const QByteArray &data_;
    QTextDocument &doc_;
    QTextCursor cursor_;
    const char *p_ = nullptr;
    const char *end_ = nullptr;
    ReadResult result_;
    std::vector<Group> stack_;
    bool started_ = false;
    bool stopped_ = false;
    bool starred_ = false;
    int skipChars_ = 0;
    int codePage_ = 1252;
    int defaultFont_ = 0;
    QByteArray pending_;
    std::map<int, QStringDecoder> decoders_;
    std::map<int, Font> fonts_;
    int fontNumber_ = 0;
    int fontCharset_ = 0;
    QString fontName_;
    std::vector<std::optional<QColor>> colors_;
    QColor color_;
    bool colorSeen_ = false;
    QString run_;
    CharState runChr_;
    bool contentSincePar_ = false;
    int paragraphs_ = 0;
    Picture pict_;
    int hexHigh_ = -1;
    qint64 embeddedBytes_ = 0;
    qint64 shownBytes_ = 0;
    bool tooLarge_ = false;
    QHash<QByteArray, QImage> decoded_;
    std::vector<Shape> shapes_;
    std::vector<Object> objects_;
    std::optional<Shown> fallback_;
    bool afterShppict_ = false;
};

} // namespace

ReadResult readRtf(const QByteArray &data, QTextDocument &doc)
{
    const bool undo = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    doc.clear();
    ReadResult result = Reader(data, doc).read();
    doc.setUndoRedoEnabled(undo);
    return result;
}

} // namespace rtf
