#pragma once
// Text of a fetched part turned into UTF-8 with CR LF line ends, fed in pieces of any
// size, so that a body of any length is converted without being held whole.

#include <QByteArray>
#include <QByteArrayView>
#include <QStringDecoder>

namespace mime {

// Longest charset name looked up; a longer one is no charset anyone writes.
inline constexpr qsizetype kMaxCharsetName = 64;

class TextToUtf8 {
public:
    // `charset` is the part's charset parameter (any case, possibly empty). A charset
    // that is known is converted from; ISO-8859-1 and US-ASCII are read as the
    // Windows-1252 and UTF-8 that mailers really send under those names. Without a
    // charset, or with one that cannot be converted, the bytes are kept: valid UTF-8
    // as it is, and from the first byte that is not, the rest as Windows-1252.
    explicit TextToUtf8(QByteArrayView charset);

    // Appends the converted text of `bytes` to `out`; CR LF, a lone CR and a lone LF
    // all become CR LF.
    void feed(QByteArrayView bytes, QByteArray &out);
    // Appends what is held back (a character cut at the end of the input).
    void finish(QByteArray &out);

    // True when the text is converted from a named charset rather than kept.
    bool converts() const { return mode_ == Mode::Convert; }

private:
    enum class Mode { Convert, KeepUtf8, Windows1252 };

    void decodeWith(QStringDecoder &decoder, QByteArrayView bytes, QByteArray &out);
    void appendLines(QByteArrayView utf8, QByteArray &out);

    Mode mode_ = Mode::KeepUtf8;
    QStringDecoder decoder_;
    QStringDecoder fallback_;
    QByteArray pending_;     // the start of a UTF-8 sequence cut by the end of a piece
    bool afterCr_ = false;   // the last byte written was a CR
};

} // namespace mime
