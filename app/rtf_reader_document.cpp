#include "app/rtf_reader.h"

#include <QFont>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>

namespace qm {

namespace {

// Twips at the screen's 96 dots per inch.
constexpr double kTwipsPerPixel = 15.0;

Qt::Alignment ToQt(RtfAlign align) {
    switch (align) {
    case RtfAlign::Centre:
        return Qt::AlignHCenter;
    case RtfAlign::Right:
        return Qt::AlignRight;
    case RtfAlign::Justify:
        return Qt::AlignJustify;
    case RtfAlign::Left:
        break;
    }
    return Qt::AlignLeft;
}

QTextBlockFormat ToQt(const RtfParaFormat& para) {
    QTextBlockFormat format;
    format.setAlignment(ToQt(para.align));
    format.setLeftMargin(para.leftIndent / kTwipsPerPixel);
    format.setTextIndent(para.firstIndent / kTwipsPerPixel);
    format.setTopMargin(para.spaceBefore / kTwipsPerPixel);
    format.setBottomMargin(para.spaceAfter / kTwipsPerPixel);
    if (!para.tabStops.empty()) {
        QList<QTextOption::Tab> tabs;
        // RTF measures tab stops from the page margin, Qt from the paragraph's indent.
        for (int stop : para.tabStops)
            if (stop > para.leftIndent)
                tabs.append(QTextOption::Tab((stop - para.leftIndent) / kTwipsPerPixel,
                                             QTextOption::LeftTab));
        format.setTabPositions(tabs);
    }
    return format;
}

QTextCharFormat ToQt(const RtfDocument& rtf, const RtfCharFormat& chr) {
    QTextCharFormat format;
    format.setFontWeight(chr.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(chr.italic);
    format.setFontUnderline(chr.underline);
    format.setFontPointSize(chr.halfPoints / 2.0);
    if (chr.colorIndex > 0 && static_cast<size_t>(chr.colorIndex) < rtf.colors.size() &&
        rtf.colors[chr.colorIndex].isValid())
        format.setForeground(rtf.colors[chr.colorIndex]);
    if (chr.font >= 0 && static_cast<size_t>(chr.font) < rtf.fonts.size()) {
        const RtfFont& font = rtf.fonts[chr.font];
        if (font.fixedPitch) {
            format.setFontFixedPitch(true);
            format.setFontFamilies(QStringList{QStringLiteral("monospace")});
            format.setFontStyleHint(QFont::Monospace);
        } else if (!font.name.isEmpty()) {
            format.setFontFamilies(QStringList{font.name});
        }
    }
    return format;
}

} // namespace

void RenderRtf(const RtfDocument& rtf, QTextDocument& document) {
    document.clear();
    QTextCursor cursor(&document);
    bool first = true;
    for (const RtfParagraph& para : rtf.paragraphs) {
        if (first)
            cursor.setBlockFormat(ToQt(para.format));
        else
            cursor.insertBlock(ToQt(para.format));
        first = false;
        for (const RtfRun& run : para.runs)
            cursor.insertText(run.text, ToQt(rtf, run.format));
    }
}

} // namespace qm
