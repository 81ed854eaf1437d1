#include "mime/HtmlText.h"

#include <QString>

#include <cstring>

namespace mime {

namespace {

// Longest tag name and entity looked at; anything longer is passed over or kept as text.
constexpr qsizetype kMaxTagName = 16;
constexpr qsizetype kMaxEntity = 32;

struct NamedEntity {
    const char *name;
    char32_t code;
};

// The entities mail writers use; others stay as written.
constexpr NamedEntity kEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '},
    {"copy", 0xA9}, {"reg", 0xAE}, {"trade", 0x2122}, {"hellip", 0x2026}, {"mdash", 0x2014},
    {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"sbquo", 0x201A},
    {"ldquo", 0x201C}, {"rdquo", 0x201D}, {"bdquo", 0x201E}, {"laquo", 0xAB}, {"raquo", 0xBB},
    {"euro", 0x20AC}, {"pound", 0xA3}, {"yen", 0xA5}, {"cent", 0xA2}, {"sect", 0xA7},
    {"deg", 0xB0}, {"plusmn", 0xB1}, {"times", 0xD7}, {"divide", 0xF7}, {"middot", 0xB7},
    {"bull", 0x2022}, {"para", 0xB6}, {"iexcl", 0xA1}, {"iquest", 0xBF}, {"shy", 0xAD},
    {"zwnj", 0x200C}, {"zwj", 0x200D}, {"frac12", 0xBD}, {"frac14", 0xBC}, {"frac34", 0xBE},
    {"agrave", 0xE0}, {"aacute", 0xE1}, {"acirc", 0xE2}, {"auml", 0xE4}, {"aring", 0xE5},
    {"ccedil", 0xE7}, {"egrave", 0xE8}, {"eacute", 0xE9}, {"ecirc", 0xEA}, {"euml", 0xEB},
    {"iacute", 0xED}, {"ntilde", 0xF1}, {"oacute", 0xF3}, {"ocirc", 0xF4}, {"ouml", 0xF6},
    {"oslash", 0xF8}, {"uacute", 0xFA}, {"uuml", 0xFC}, {"szlig", 0xDF}, {"Auml", 0xC4},
    {"Ouml", 0xD6}, {"Uuml", 0xDC}, {"Eacute", 0xC9}, {"Agrave", 0xC0}, {"Ccedil", 0xC7},
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAlnum(char c) { return isLetter(c) || (c >= '0' && c <= '9'); }

// The code point an entity's text (between "&" and ";") stands for; 0 for none.
char32_t entityCode(const QByteArray &entity)
{
    if (entity.startsWith('#')) {
        const bool hex = entity.size() > 1 && (entity[1] == 'x' || entity[1] == 'X');
        bool ok = false;
        const qulonglong code = entity.mid(hex ? 2 : 1).toULongLong(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return ok ? 0xFFFD : 0;
        return char32_t(code);
    }
    for (const NamedEntity &e : kEntities)
        if (entity == e.name)
            return e.code;
    return 0;
}

// Where a tag breaks the text: 2 for a paragraph (a blank line), 1 for a line.
int breaksOf(const QByteArray &tag)
{
    static const char *const paragraphs[] = {"p", "h1", "h2", "h3", "h4", "h5", "h6", "ul", "ol",
                                             "table", "blockquote", "pre", "hr", "dl"};
    static const char *const lines[] = {"div", "li", "tr", "dt", "dd", "section", "article",
                                        "header", "footer", "address", "center", "form"};
    for (const char *p : paragraphs)
        if (tag == p)
            return 2;
    for (const char *l : lines)
        if (tag == l)
            return 1;
    return 0;
}

} // namespace

void HtmlToText::lineBreaks(int count, QByteArray &out)
{
    for (; count > 0; --count) {
        out += "\r\n";
        ++breaks_;
    }
    space_ = false;
}

void HtmlToText::text(char c, QByteArray &out, bool kept)
{
    if (!kept && pre_ == 0 && isSpace(c)) {
        space_ = true;
        return;
    }
    if (!kept && pre_ > 0 && (c == '\r' || c == '\n')) {
        // Inside <pre> every line end counts; CR LF is one.
        const bool secondHalf = c == '\n' && preCr_;
        preCr_ = c == '\r';
        if (!secondHalf && any_)
            lineBreaks(1, out);
        return;
    }
    preCr_ = false;
    if (any_ && wantBreaks_ > breaks_)
        lineBreaks(wantBreaks_ - breaks_, out);
    wantBreaks_ = 0;
    if (space_ && breaks_ == 0 && any_)
        out += ' ';
    space_ = false;
    if (!prefix_.isEmpty()) {
        out += prefix_;
        prefix_.clear();
    }
    out += c;
    breaks_ = 0;
    any_ = true;
}

void HtmlToText::endTag(QByteArray &out)
{
    const bool closing = name_.startsWith('/');
    const QByteArray tag = closing ? name_.mid(1) : name_;
    if (tag == "br") {
        if (any_)
            lineBreaks(1, out);
    } else if (const int b = breaksOf(tag)) {
        wantBreaks_ = std::max(wantBreaks_, b);
    } else if (tag == "td" || tag == "th") {
        space_ = true;
    }
    if (tag == "pre")
        pre_ = closing ? std::max(0, pre_ - 1) : pre_ + 1;
    if (tag == "li" && !closing)
        prefix_ = "- ";
    if (!closing && (tag == "script" || tag == "style" || tag == "title")) {
        hiddenEnd_ = "</" + tag;
        hiddenMatched_ = 0;
        state_ = State::Hidden;
        return;
    }
    state_ = State::Text;
}

void HtmlToText::flushEntity(QByteArray &out, bool terminated)
{
    const char32_t code = entityCode(name_);
    if (code == 0) {
        const QByteArray written = '&' + name_ + (terminated ? ";" : "");
        for (char c : written)
            text(c, out);
        return;
    }
    if (code == ' ') {
        // A non-breaking space is kept even where spaces collapse.
        text(' ', out, true);
        return;
    }
    const QByteArray utf8 = QString::fromUcs4(&code, 1).toUtf8();
    for (char c : utf8)
        text(c, out);
}

void HtmlToText::feed(QByteArrayView html, QByteArray &out)
{
    for (qsizetype i = 0; i < html.size(); ++i) {
        const char c = html[i];
        switch (state_) {
        case State::Text:
            if (c == '<') {
                state_ = State::TagStart;
            } else if (c == '&') {
                name_.clear();
                state_ = State::Entity;
            } else {
                text(c, out);
            }
            break;
        case State::TagStart:
            if (isLetter(c) || c == '/' || c == '!' || c == '?') {
                name_ = QByteArray(1, char(c >= 'A' && c <= 'Z' ? c + 32 : c));
                nameDone_ = false;
                quote_ = 0;
                state_ = State::Tag;
            } else {
                // "a < b" is text.
                state_ = State::Text;
                text('<', out);
                --i;
            }
            break;
        case State::Tag:
            if (quote_) {
                if (c == quote_)
                    quote_ = 0;
            } else if (c == '>') {
                endTag(out);
            } else if (!nameDone_ && (isAlnum(c) || (c == '-' && name_.startsWith('!')))
                       && name_.size() < kMaxTagName) {
                name_ += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
                if (name_ == "!--") {
                    dashes_ = 0;
                    state_ = State::Comment;
                }
            } else {
                nameDone_ = true;
                if (c == '"' || c == '\'')
                    quote_ = c;
            }
            break;
        case State::Comment:
            if (c == '>' && dashes_ >= 2)
                state_ = State::Text;
            dashes_ = c == '-' ? dashes_ + 1 : 0;
            break;
        case State::Entity:
            if (c == ';') {
                state_ = State::Text;
                flushEntity(out, true);
            } else if ((isAlnum(c) || (c == '#' && name_.isEmpty())) && name_.size() < kMaxEntity) {
                name_ += c;
            } else {
                state_ = State::Text;
                flushEntity(out, false);
                --i;
            }
            break;
        case State::Hidden: {
            const char lower = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
            if (lower == hiddenEnd_[hiddenMatched_]) {
                if (++hiddenMatched_ == hiddenEnd_.size()) {
                    name_ = hiddenEnd_.mid(1);
                    nameDone_ = true;
                    quote_ = 0;
                    state_ = State::Tag;
                }
            } else {
                hiddenMatched_ = lower == '<' ? 1 : 0;
            }
            break;
        }
        }
    }
}

void HtmlToText::finish(QByteArray &out)
{
    if (state_ == State::Entity)
        flushEntity(out, false);
    else if (state_ == State::TagStart)
        text('<', out);
    state_ = State::Text;
    if (any_ && breaks_ == 0)
        lineBreaks(1, out);
}

} // namespace mime
