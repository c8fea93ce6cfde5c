#include "app/help_dlg.h"
#include "app/rtf_reader.h"
#include "widget_test_support.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

namespace qm {
namespace {

QByteArray ShippedHelp() {
    QFile file(QStringLiteral(QM_HELP_RTF));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << QM_HELP_RTF;
    return file.readAll();
}

const RtfParagraph* FindParagraph(const RtfDocument& doc, const QString& start) {
    for (const RtfParagraph& para : doc.paragraphs)
        if (para.Text().startsWith(start)) return &para;
    return nullptr;
}

TEST(RtfReader, ShippedHelpTextReadsAsTheCommandHelp) {
    const RtfDocument doc = ParseRtf(ShippedHelp());
    ASSERT_TRUE(doc.isRtf);
    ASSERT_FALSE(doc.paragraphs.empty());
    const RtfParagraph& heading = doc.paragraphs.front();
    EXPECT_EQ(heading.Text(), "QMPlayer Command Definition");
    ASSERT_FALSE(heading.runs.empty());
    EXPECT_TRUE(heading.runs.front().format.bold);

    const QString text = doc.PlainText();
    EXPECT_TRUE(text.contains("Usage:  QMPlayer [options] [FileName/Mode/CameraMap]\n"))
        << text.toStdString();
    for (const char* option : {"-path", "-m", "-c", "-h"})
        EXPECT_NE(FindParagraph(doc, option), nullptr) << option;
    EXPECT_TRUE(text.contains("-help"));
    EXPECT_TRUE(text.contains(QString("1 : 1x1") + QChar::LineSeparator + "2 : 2x2" +
                              QChar::LineSeparator + "3 : 3x3" + QChar::LineSeparator + "4 : 4x4"));
    EXPECT_TRUE(text.contains("needs -path and -m"));
    EXPECT_TRUE(text.contains("An option with an erroneous parameter is ignored."));
    // The options are set in the fixed-pitch font of the font table.
    ASSERT_GE(doc.fonts.size(), 2u);
    EXPECT_TRUE(doc.fonts[1].fixedPitch);
    EXPECT_EQ(doc.fonts[0].name, "Arial");
    const RtfParagraph* path = FindParagraph(doc, "-path");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->runs.front().format.font, 1);
    EXPECT_GT(path->format.leftIndent, 0);
}

TEST(RtfReader, ErrorPageShowsItsHeadingNameAndReason) {
    const QByteArray page = CHelpDlg::FileErrorPage("Help.rtf", "No such file or directory");
    EXPECT_EQ(page,
              R"({\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fswiss\fcharset0 Arial;}})"
              R"({\colortbl ;\red255\green0\blue0;}\viewkind4\uc1\pard\cf1\b\f0\fs36 HelpDialog )"
              R"(Internal Error\par\fs20\par\cf0 Failed to load RTF file 'Help.rtf'\par\par\cf0)"
              R"(Reason: No such file or directory\par\cf0\b0\par})");
    const RtfDocument doc = ParseRtf(page);
    EXPECT_EQ(doc.PlainText(), "HelpDialog Internal Error\n\nFailed to load RTF file "
                               "'Help.rtf'\n\nReason: No such file or directory\n");
    const RtfRun& heading = doc.paragraphs[0].runs.at(0);
    EXPECT_TRUE(heading.format.bold);
    EXPECT_EQ(heading.format.halfPoints, 36);
    ASSERT_GT(doc.colors.size(), static_cast<size_t>(heading.format.colorIndex));
    EXPECT_EQ(doc.colors[heading.format.colorIndex], QColor(255, 0, 0));
    const RtfRun& reason = doc.paragraphs[4].runs.at(0);
    EXPECT_EQ(reason.format.colorIndex, 0);
    EXPECT_EQ(reason.format.halfPoints, 20);
    EXPECT_FALSE(doc.colors[0].isValid()); // the "auto" entry

    EXPECT_TRUE(ParseRtf(CHelpDlg::ResourceErrorPage())
                    .PlainText()
                    .contains("Failed to load RTF from resources, check your code!"));
    EXPECT_TRUE(
        ParseRtf(CHelpDlg::NoSourceErrorPage())
            .PlainText()
            .contains("no RTF ID set in constructor AND no RTF File Loaded, check your code!"));
}

TEST(RtfReader, ErrorPageNamesAnyFileAsWritten) {
    for (const QString& name :
         {QString("dir\\{odd}\\Help.rtf"), QString::fromUtf8("h\xc3\xa9lp \xe2\x82\xac.rtf")}) {
        const RtfDocument doc = ParseRtf(CHelpDlg::FileErrorPage(name, "r{e}a\\son"));
        EXPECT_EQ(doc.paragraphs.at(2).Text(), "Failed to load RTF file '" + name + "'");
        EXPECT_EQ(doc.paragraphs.at(4).Text(), "Reason: r{e}a\\son");
    }
}

TEST(RtfReader, CharactersEscapesAndGroups) {
    const RtfDocument doc =
        ParseRtf(R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}{\*\generator junk}{\info{\title t}})"
                 R"(a\'80b\u8364?c\uc0\u233 d\\\{\}\tab e{\b bold}plain\par)"
                 R"(\pard\qc\li720\fi-360\i centred\i0\line next\par})");
    ASSERT_EQ(doc.paragraphs.size(), 2u);
    EXPECT_EQ(doc.paragraphs[0].Text(), QString::fromUtf8("a\xe2\x82\xac"
                                                          "b\xe2\x82\xac"
                                                          "c\xc3\xa9"
                                                          "d\\{}\te") +
                                            "boldplain");
    const auto& runs = doc.paragraphs[0].runs;
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[1].format.bold);
    EXPECT_EQ(runs[1].text, "bold");
    EXPECT_FALSE(runs[2].format.bold); // the group's end restores the format
    EXPECT_EQ(doc.paragraphs[1].format.align, RtfAlign::Centre);
    EXPECT_EQ(doc.paragraphs[1].format.leftIndent, 720);
    EXPECT_EQ(doc.paragraphs[1].format.firstIndent, -360);
    EXPECT_EQ(doc.paragraphs[1].Text(), QString("centred") + QChar::LineSeparator + "next");
    EXPECT_TRUE(doc.paragraphs[1].runs[0].format.italic);
}

TEST(RtfReader, NonRtfTextIsShownAsPlainText) {
    const RtfDocument doc = ParseRtf("first line\r\nsecond {line}\n");
    EXPECT_FALSE(doc.isRtf);
    EXPECT_EQ(doc.PlainText(), "first line\nsecond {line}\n");
}

TEST(RtfReader, RendersIntoARichTextDocument) {
    const RtfDocument rtf = ParseRtf(CHelpDlg::FileErrorPage("Help.rtf", "gone"));
    QTextDocument document;
    RenderRtf(rtf, document);
    EXPECT_EQ(document.blockCount(), static_cast<int>(rtf.paragraphs.size()));
    const QTextBlock first = document.firstBlock();
    EXPECT_EQ(first.text(), "HelpDialog Internal Error");
    const QTextCharFormat format = first.begin().fragment().charFormat();
    EXPECT_EQ(format.fontWeight(), QFont::Bold);
    EXPECT_EQ(format.fontPointSize(), 18.0);
    EXPECT_EQ(format.foreground().color(), QColor(255, 0, 0));
    EXPECT_EQ(document.findBlockByNumber(4).text(), "Reason: gone");
}

// Broken input must end in some document, never a crash, a hang or a read
// past the end (the sanitizer builds check the last two).
TEST(RtfReader, MalformedInputIsSurvived) {
    const QByteArray deep =
        QByteArray("{\\rtf1 ") + QByteArray(100000, '{') + "x" + QByteArray(100000, '}');
    QByteArray manyColours = "{\\rtf1{\\colortbl";
    for (int i = 0; i < 5000; ++i)
        manyColours += "\\red1;";
    manyColours += "}\\cf4999 x}";
    const QList<QByteArray> inputs = {
        "",
        "{",
        "{\\rtf",
        "{\\rtf1 \\",
        "{\\rtf1 \\fs",
        "{\\rtf1 \\fs-",
        "{\\rtf1 \\'",
        "{\\rtf1 \\'4",
        "{\\rtf1 \\'zz text}",
        "{\\rtf1 {{{{ never closed \\b bold",
        "{\\rtf1 \\fs99999999999999999999999999 big\\cf-7 \\li-99999999999 \\fi99999999999 x}",
        "{\\rtf1 \\u99999999999 \\u-99999999999 \\uc999999999 \\u65 abc}",
        "{\\rtf1 \\bin999999999 binary}",
        "{\\rtf1 \\bin-5 x}",
        "{\\rtf1{\\fonttbl{\\f99999999 Huge;}{\\f-1 Neg;}{\\f5 " + QByteArray(5000, 'n') +
            ";}}\\f5 x}",
        "{\\rtf1 \\" + QByteArray(5000, 'a') + "1234 x}",
        "{\\rtf1{\\*",
        QByteArray("{\\rtf1 \0 nul}", 13),
        deep,
        manyColours,
    };
    for (const QByteArray& input : inputs) {
        SCOPED_TRACE(input.left(60).toStdString());
        const RtfDocument doc = ParseRtf(input);
        QTextDocument document;
        RenderRtf(doc, document);
        EXPECT_LE(doc.colors.size(), static_cast<size_t>(kRtfMaxColors));
        EXPECT_LE(doc.fonts.size(), static_cast<size_t>(kRtfMaxFonts));
    }
}

TEST(RtfReader, MalformedInputKeepsWhatCanBeRead) {
    // Text after a stray closing brace is past the document's end.
    EXPECT_EQ(ParseRtf("{\\rtf1 kept}dropped}").PlainText(), "kept");
    // A document that never closes still shows its text, with its formats.
    const RtfDocument open = ParseRtf("{\\rtf1 {\\b bold");
    ASSERT_EQ(open.paragraphs.size(), 1u);
    EXPECT_TRUE(open.paragraphs[0].runs.at(0).format.bold);
    // Numbers beyond any sane value are held to the readable range.
    const RtfDocument big = ParseRtf("{\\rtf1\\fs99999999999999 x}");
    EXPECT_EQ(big.paragraphs.at(0).runs.at(0).format.halfPoints, 400);
    // Groups nested beyond the limit are skipped whole; what follows them shows.
    const QByteArray deep = QByteArray("{\\rtf1 a") + QByteArray(kRtfMaxDepth + 10, '{') +
                            "hidden" + QByteArray(kRtfMaxDepth + 10, '}') + "b}";
    EXPECT_EQ(ParseRtf(deep).PlainText(), "ab");
    // A cut-off escape drops only itself.
    EXPECT_EQ(ParseRtf("{\\rtf1 x\\'4").PlainText(), "x");
    // \bin data is never read as RTF, even when it claims more than there is.
    EXPECT_EQ(ParseRtf("{\\rtf1 a\\bin3 {}}b}").PlainText(), "ab");
    EXPECT_EQ(ParseRtf("{\\rtf1 a\\bin99 }b}").PlainText(), "a");
}

TEST(RtfReader, RandomTokenSoupIsSurvived) {
    const char* const tokens[] = {
        "{",     "}",      "\\",  "\\par ", "\\b",       "\\b0 ",      "\\fs", "\\u",  "-",
        "9",     "99999",  "\\'", "a",      "\\*",       "\\bin",      "\\uc", ";",    "\\cf",
        "\\red", "\\line", " ",   "\\f",    "\\fonttbl", "\\colortbl", "\\~",  "\xe9", "\r\n"};
    QRandomGenerator random(4711);
    for (int round = 0; round < 2000; ++round) {
        QByteArray input = "{\\rtf1 ";
        const int count = random.bounded(1, 60);
        for (int i = 0; i < count; ++i)
            input += tokens[random.bounded(static_cast<int>(std::size(tokens)))];
        const RtfDocument doc = ParseRtf(input);
        QTextDocument document;
        RenderRtf(doc, document);
        ASSERT_LE(doc.paragraphs.size(), static_cast<size_t>(input.size()));
    }
}

} // namespace
} // namespace qm
