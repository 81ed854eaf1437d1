// MIME parameters as mailers write them, RFC 2231 sections in any order or with one
// missing, and parameter lists built to hurt.
#include "mime/MimeField.h"

#include <gtest/gtest.h>

using mime::parseMimeField;

TEST(MimeFieldTest, ValueAndQuotedParameters)
{
    const mime::MimeField f = parseMimeField(
        " multipart/mixed ;\tBoundary=\"= Part; \\\"x\\\\\" ; charset = utf-8;stray; name=\"a\" junk");
    EXPECT_EQ(f.value, "multipart/mixed");
    EXPECT_EQ(f.rawParameter("BOUNDARY"), "= Part; \"x\\");
    EXPECT_EQ(f.rawParameter("charset"), "utf-8");
    EXPECT_EQ(f.rawParameter("name"), "a");
    EXPECT_EQ(f.parameters.size(), 3);
    EXPECT_EQ(f.parameter("missing"), nullptr);
    EXPECT_EQ(parseMimeField("attachment filename=a.txt; x=1").rawParameter("filename"), "a.txt");
    EXPECT_EQ(parseMimeField("name=b").rawParameter("name"), "b");
    // The first of a name given twice counts.
    EXPECT_EQ(parseMimeField("a/b; name=one; NAME=two").rawParameter("name"), "one");
    // Encoded words in a quoted name, as real mailers send them.
    EXPECT_EQ(parseMimeField("a/b; name=\"=?UTF-8?B?w6lsw6k=?=.txt\"").textParameter("name"),
              QStringLiteral("élé.txt"));
}

TEST(MimeFieldTest, Rfc2231SectionsJoinInOrder)
{
    const mime::MimeField f = parseMimeField(
        "attachment; filename*2=\" end\"; filename*0*=iso-8859-1'fr'r%E9sum%E9%20; filename*1=\"%20and\"");
    const mime::MimeParameter *p = f.parameter("filename");
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->rfc2231);
    EXPECT_EQ(p->charset, "iso-8859-1");
    EXPECT_EQ(p->text(), QStringLiteral("résumé %20and end"));   // only "*" sections are percent-encoded

    // A missing section leaves a gap; without section 0 there is no charset prefix.
    EXPECT_EQ(parseMimeField("a; n*0=a; n*2=c").textParameter("n"), "ac");
    EXPECT_EQ(parseMimeField("a; n*1*=utf-8''b%C3%A9").textParameter("n"), "utf-8''bé");
    EXPECT_EQ(parseMimeField("a; n*=''%zz%4").textParameter("n"), "%zz%4");
    EXPECT_EQ(parseMimeField("a; n*=x-unknown''%C3%A9").textParameter("n"), QStringLiteral("é"));
    // The plain form wins when it has a value; the RFC 2231 one stands in for an empty one.
    EXPECT_EQ(parseMimeField("a; n*=utf-8''x; n=y").textParameter("n"), "y");
    EXPECT_EQ(parseMimeField("a; n=\"\"; n*=utf-8''x").textParameter("n"), "x");
}

TEST(MimeFieldTest, HostileParameterLists)
{
    QByteArray many = "a/b";
    for (int i = 0; i < 20000; ++i)
        many += "; p" + QByteArray::number(i) + "=\"v" + QByteArray::number(i) + '"';
    for (int i = 20000; i > 0; --i)
        many += "; long*" + QByteArray::number(i % 5000) + "=x";
    const mime::MimeField f = parseMimeField(many + "; boundary=end");
    EXPECT_EQ(f.parameters.size(), 20002);
    EXPECT_EQ(f.rawParameter("p19999"), "v19999");
    EXPECT_EQ(f.rawParameter("long"), QByteArray(5000, 'x'));
    EXPECT_EQ(f.rawParameter("boundary"), "end");

    // An unclosed quote runs to the end of the field.
    const mime::MimeField open = parseMimeField("a/b; name=\"x; boundary=y ");
    EXPECT_EQ(open.rawParameter("name"), "x; boundary=y");
    EXPECT_EQ(open.parameter("boundary"), nullptr);
    // NUL bytes are data, not the end of the field.
    static const char withNul[] = "a/b; n=\"x\0y\"; m=z";
    const mime::MimeField nul = parseMimeField(QByteArrayView(withNul, sizeof withNul - 1));
    EXPECT_EQ(nul.rawParameter("n"), QByteArray("x\0y", 3));
    EXPECT_EQ(nul.rawParameter("m"), "z");
    // Section numbers that cannot be one, names that are empty, lone separators.
    const mime::MimeField odd = parseMimeField(";;; =x; *0=y; n*99999999999999999999=z; n*x=w; n*0=ok;");
    EXPECT_EQ(odd.value, "");
    ASSERT_EQ(odd.parameters.size(), 1);
    EXPECT_EQ(odd.rawParameter("n"), "ok");
}
