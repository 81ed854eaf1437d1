#pragma once
// The readable text of an HTML document, made while the document is fed in pieces:
// tags, comments, scripts and styles dropped, white space collapsed as a browser
// would, paragraphs and line breaks kept as CR LF line ends, entities decoded.

#include <QByteArray>
#include <QByteArrayView>

namespace mime {

class HtmlToText {
public:
    // Appends the text of the next piece of UTF-8 HTML to `out`.
    void feed(QByteArrayView html, QByteArray &out);
    // Ends the text: an entity cut off by the end is kept as written, the last line
    // gets its line end.
    void finish(QByteArray &out);

private:
    enum class State { Text, TagStart, Tag, Comment, Entity, Hidden };

    void text(char c, QByteArray &out, bool kept = false);
    void endTag(QByteArray &out);
    void flushEntity(QByteArray &out, bool terminated);
    void lineBreaks(int count, QByteArray &out);

    State state_ = State::Text;
    QByteArray name_;        // the tag's name (lower case), or the entity's text
    bool nameDone_ = false;  // the tag's name has ended; attributes follow
    char quote_ = 0;         // the quote an attribute value is open in
    int dashes_ = 0;         // "-" just seen in a comment
    QByteArray hiddenEnd_;   // "</script" or "</style" while their content is dropped
    int hiddenMatched_ = 0;
    int pre_ = 0;            // depth of <pre>: white space kept as written
    bool preCr_ = false;     // a CR inside <pre> was the last character
    int wantBreaks_ = 0;     // line ends owed before the next text (2: a blank line)
    int breaks_ = 0;         // line ends at the end of the text so far
    bool space_ = false;     // white space owed before the next text
    bool any_ = false;       // some text was written
    QByteArray prefix_;      // written before the next text (a list item's "- ")
};

} // namespace mime
