#pragma once
// A reader for the small part of RTF that our help text and the help
// window's error pages use: groups, paragraphs and line breaks, bold,
// italic, underline, font size, the font and colour tables, alignment and
// indents, tabs, \'hh (code page 1252) and \uN characters. Everything else is
// skipped. Any byte sequence is accepted: unbalanced braces, cut-off control
// words and out-of-range numbers are tolerated and never read past the input.

#include <QByteArray>
#include <QColor>
#include <QString>
#include <vector>

class QTextDocument;

namespace qm {

// Limits that keep a hostile file's tables and nesting small.
constexpr int kRtfMaxDepth = 256;
constexpr int kRtfMaxColors = 1024;
constexpr int kRtfMaxFonts = 1024;
constexpr int kRtfMaxTabStops = 64;

struct RtfCharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24; // font size in half points (\fs)
    int colorIndex = 0;  // into RtfDocument::colors; 0 is the default colour
    int font = 0;        // into RtfDocument::fonts

    bool operator==(const RtfCharFormat&) const = default;
};

struct RtfRun {
    QString text;
    RtfCharFormat format;
};

enum class RtfAlign { Left, Centre, Right, Justify };

struct RtfParaFormat {
    RtfAlign align = RtfAlign::Left;
    int leftIndent = 0;        // twips (\li)
    int firstIndent = 0;       // twips (\fi), relative to the left indent
    int spaceBefore = 0;       // twips (\sb)
    int spaceAfter = 0;        // twips (\sa)
    std::vector<int> tabStops; // twips from the left edge (\tx), at most kRtfMaxTabStops
};

struct RtfParagraph {
    RtfParaFormat format;
    std::vector<RtfRun> runs;

    QString Text() const;
};

struct RtfFont {
    QString name;
    bool fixedPitch = false; // \fmodern
};

struct RtfDocument {
    bool isRtf = false;         // the text started with "{\rtf"; otherwise it is plain text
    std::vector<QColor> colors; // an invalid colour is the default ("auto") entry
    std::vector<RtfFont> fonts; // indexed by font number (gaps are empty entries)
    std::vector<RtfParagraph> paragraphs;

    // Paragraphs joined with '\n'.
    QString PlainText() const;
};

RtfDocument ParseRtf(const QByteArray& rtf);

// Fills the document (cleared first) with the parsed text and its formats.
void RenderRtf(const RtfDocument& rtf, QTextDocument& document);

} // namespace qm
