#include "app/rtf_reader.h"

#include <QStringList>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>

namespace qm {

namespace {

// Code page 1252 from 0x80 to 0x9F; the other bytes are Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QChar FromCp1252(uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0) return QChar(kCp1252High[byte - 0x80]);
    return QChar(static_cast<char16_t>(byte));
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Groups whose content is never shown.
constexpr std::string_view kSkippedDestinations[] = {
    "stylesheet",   "info",      "pict",      "object",
    "header",       "headerl",   "headerr",   "headerf",
    "footer",       "footerl",   "footerr",   "footerf",
    "footnote",     "fldinst",   "listtable", "listoverridetable",
    "rsidtbl",      "generator", "themedata", "colorschememapping",
    "latentstyles", "datastore", "xmlnstbl",  "filetbl",
    "revtbl",       "pgdsctbl",  "private",   "nonshppict",
    "bkmkstart",    "bkmkend",   "txe",       "xe",
    "tc",           "mmathPr"};

enum class Dest { Text, Skip, FontTable, ColorTable };

struct GroupState {
    RtfCharFormat chr;
    RtfParaFormat para;
    Dest dest = Dest::Text;
    int ucSkip = 1;
};

constexpr int kMaxWordLength = 32;
constexpr int kMaxFontName = 256;

class Parser {
public:
    explicit Parser(const QByteArray& in)
        : m_p(in.constData()), m_end(in.constData() + in.size()) {}

    RtfDocument Run();

private:
    void OpenGroup();
    void CloseGroup();
    void ReadControl();
    void ControlWord(std::string_view word, bool hasParam, int param);
    void ControlSymbol(char symbol);
    void Text(QChar c);
    void Emit(QChar c);
    void EndParagraph();
    void CommitFont();
    void CommitColor();

    const char* m_p;
    const char* m_end;
    bool m_bDone = false;
    std::vector<GroupState> m_stack;
    GroupState m_cur;
    int m_nOverflow = 0;    // groups opened beyond kRtfMaxDepth, skipped whole
    int m_nPendingSkip = 0; // fallback characters still to drop after \uN
    RtfDocument m_doc;
    RtfParagraph m_para;
    int m_nFont = -1; // font table entry being read
    QString m_strFontName;
    bool m_bFontFixed = false;
    int m_nRed = -1, m_nGreen = -1, m_nBlue = -1;
};

RtfDocument Parser::Run() {
    m_doc.isRtf = true;
    while (m_p < m_end && !m_bDone) {
        const char c = *m_p;
        if (c == '{') {
            ++m_p;
            OpenGroup();
        } else if (c == '}') {
            ++m_p;
            CloseGroup();
        } else if (c == '\\') {
            ReadControl();
        } else {
            ++m_p;
            if (c == '\r' || c == '\n' || c == '\0') continue;
            Text(FromCp1252(static_cast<uint8_t>(c)));
        }
    }
    if (!m_para.runs.empty()) EndParagraph();
    return std::move(m_doc);
}

void Parser::OpenGroup() {
    m_nPendingSkip = 0;
    if (m_nOverflow > 0 || m_stack.size() >= static_cast<size_t>(kRtfMaxDepth)) {
        ++m_nOverflow;
        return;
    }
    m_stack.push_back(m_cur);
}

void Parser::CloseGroup() {
    m_nPendingSkip = 0;
    if (m_nOverflow > 0) {
        --m_nOverflow;
        return;
    }
    if (m_cur.dest == Dest::FontTable) CommitFont();
    if (m_stack.empty()) {
        m_bDone = true;
        return;
    }
    m_cur = m_stack.back();
    m_stack.pop_back();
    // Anything after the document's own group is not part of it.
    if (m_stack.empty()) m_bDone = true;
}

void Parser::ReadControl() {
    ++m_p; // the backslash
    if (m_p >= m_end) return;
    if (!IsLetter(*m_p)) {
        const char symbol = *m_p++;
        ControlSymbol(symbol);
        return;
    }
    char word[kMaxWordLength + 1];
    int length = 0;
    while (m_p < m_end && IsLetter(*m_p)) {
        if (length < kMaxWordLength) word[length] = *m_p;
        ++length;
        ++m_p;
    }
    // A longer word is no word we know; keep it unrecognisable.
    const std::string_view name(word, std::min(length, kMaxWordLength));
    bool hasParam = false;
    bool negative = false;
    if (m_p + 1 < m_end && *m_p == '-' && IsDigit(m_p[1])) {
        negative = true;
        ++m_p;
    }
    int64_t value = 0;
    while (m_p < m_end && IsDigit(*m_p)) {
        hasParam = true;
        if (value <= INT_MAX) value = value * 10 + (*m_p - '0');
        ++m_p;
    }
    value = std::min<int64_t>(value, INT_MAX);
    const int param = static_cast<int>(negative ? -value : value);
    if (m_p < m_end && *m_p == ' ') ++m_p;
    ControlWord(length > kMaxWordLength ? std::string_view() : name, hasParam, param);
}

void Parser::ControlSymbol(char symbol) {
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        Text(QChar(static_cast<char16_t>(symbol)));
        break;
    case '~':
        Text(QChar(0x00A0));
        break;
    case '_':
        Text(QChar(0x2011));
        break;
    case '*':
        // An optional destination: nothing we show lives in one.
        m_cur.dest = Dest::Skip;
        break;
    case '\'': {
        const int high = m_p < m_end ? HexValue(*m_p) : -1;
        const int low = m_p + 1 < m_end ? HexValue(m_p[1]) : -1;
        if (high < 0 || low < 0) {
            // A broken escape: drop what there is of it.
            if (high >= 0) ++m_p;
            break;
        }
        m_p += 2;
        Text(FromCp1252(static_cast<uint8_t>(high * 16 + low)));
        break;
    }
    case '\r':
    case '\n':
        if (m_cur.dest == Dest::Text && m_nOverflow == 0) EndParagraph();
        break;
    default: // \- (optional hyphen) and symbols we do not know
        break;
    }
}

void Parser::ControlWord(std::string_view word, bool hasParam, int param) {
    if (word == "bin") {
        // Binary data follows; never interpret it, never step past the end.
        const int64_t count = hasParam ? std::max(param, 0) : 0;
        m_p += std::min<int64_t>(count, m_end - m_p);
        return;
    }
    if (m_nOverflow > 0 || m_cur.dest == Dest::Skip) return;
    if (word == "fonttbl") {
        m_cur.dest = Dest::FontTable;
        return;
    }
    if (word == "colortbl") {
        m_cur.dest = Dest::ColorTable;
        return;
    }
    for (std::string_view skipped : kSkippedDestinations) {
        if (word == skipped) {
            m_cur.dest = Dest::Skip;
            return;
        }
    }
    if (m_cur.dest == Dest::FontTable) {
        if (word == "f") {
            CommitFont();
            m_nFont = hasParam && param >= 0 && param < kRtfMaxFonts ? param : -1;
        } else if (word == "fmodern") {
            m_bFontFixed = true;
        }
        return;
    }
    if (m_cur.dest == Dest::ColorTable) {
        const int component = std::clamp(param, 0, 255);
        if (word == "red") m_nRed = component;
        if (word == "green") m_nGreen = component;
        if (word == "blue") m_nBlue = component;
        return;
    }

    // A control word counts as one character of a \u fallback.
    if (m_nPendingSkip > 0) {
        --m_nPendingSkip;
        return;
    }
    RtfCharFormat& chr = m_cur.chr;
    RtfParaFormat& para = m_cur.para;
    const bool on = !hasParam || param != 0;
    if (word == "par") {
        EndParagraph();
    } else if (word == "line") {
        Emit(QChar::LineSeparator);
    } else if (word == "tab") {
        Emit(QChar('\t'));
    } else if (word == "pard") {
        para = RtfParaFormat{};
    } else if (word == "plain") {
        chr = RtfCharFormat{};
    } else if (word == "b") {
        chr.bold = on;
    } else if (word == "i") {
        chr.italic = on;
    } else if (word == "ul") {
        chr.underline = on;
    } else if (word == "ulnone") {
        chr.underline = false;
    } else if (word == "fs") {
        chr.halfPoints = hasParam ? std::clamp(param, 2, 400) : 24;
    } else if (word == "cf") {
        chr.colorIndex = std::clamp(param, 0, kRtfMaxColors);
    } else if (word == "f") {
        chr.font = std::clamp(param, 0, kRtfMaxFonts - 1);
    } else if (word == "ql") {
        para.align = RtfAlign::Left;
    } else if (word == "qc") {
        para.align = RtfAlign::Centre;
    } else if (word == "qr") {
        para.align = RtfAlign::Right;
    } else if (word == "qj") {
        para.align = RtfAlign::Justify;
    } else if (word == "li") {
        para.leftIndent = std::clamp(param, 0, 31680);
    } else if (word == "fi") {
        para.firstIndent = std::clamp(param, -31680, 31680);
    } else if (word == "sb") {
        para.spaceBefore = std::clamp(param, 0, 31680);
    } else if (word == "sa") {
        para.spaceAfter = std::clamp(param, 0, 31680);
    } else if (word == "tx") {
        if (para.tabStops.size() < static_cast<size_t>(kRtfMaxTabStops))
            para.tabStops.push_back(std::clamp(param, 0, 31680));
    } else if (word == "uc") {
        m_cur.ucSkip = std::clamp(param, 0, 16);
    } else if (word == "u") {
        int code = param;
        if (code < 0) code += 65536; // written as a signed 16-bit number
        Emit(code >= 0 && code <= 0xFFFF ? QChar(static_cast<char16_t>(code)) : QChar(0xFFFD));
        m_nPendingSkip = m_cur.ucSkip;
    } else if (word == "emdash") {
        Emit(QChar(0x2014));
    } else if (word == "endash") {
        Emit(QChar(0x2013));
    } else if (word == "bullet") {
        Emit(QChar(0x2022));
    } else if (word == "lquote") {
        Emit(QChar(0x2018));
    } else if (word == "rquote") {
        Emit(QChar(0x2019));
    } else if (word == "ldblquote") {
        Emit(QChar(0x201C));
    } else if (word == "rdblquote") {
        Emit(QChar(0x201D));
    }
}

void Parser::Text(QChar c) {
    if (m_nOverflow > 0) return;
    switch (m_cur.dest) {
    case Dest::Skip:
        return;
    case Dest::FontTable:
        if (c == QLatin1Char(';'))
            CommitFont();
        else if (m_strFontName.size() < kMaxFontName)
            m_strFontName.append(c);
        return;
    case Dest::ColorTable:
        if (c == QLatin1Char(';')) CommitColor();
        return;
    case Dest::Text:
        break;
    }
    if (m_nPendingSkip > 0) {
        --m_nPendingSkip;
        return;
    }
    Emit(c);
}

void Parser::Emit(QChar c) {
    if (!m_para.runs.empty() && m_para.runs.back().format == m_cur.chr) {
        m_para.runs.back().text.append(c);
        return;
    }
    m_para.runs.push_back(RtfRun{QString(c), m_cur.chr});
}

void Parser::EndParagraph() {
    m_para.format = m_cur.para;
    m_doc.paragraphs.push_back(std::move(m_para));
    m_para = RtfParagraph{};
}

void Parser::CommitFont() {
    if (m_nFont >= 0) {
        if (m_doc.fonts.size() <= static_cast<size_t>(m_nFont)) m_doc.fonts.resize(m_nFont + 1);
        m_doc.fonts[m_nFont] = RtfFont{m_strFontName.trimmed(), m_bFontFixed};
    }
    m_nFont = -1;
    m_strFontName.clear();
    m_bFontFixed = false;
}

void Parser::CommitColor() {
    if (m_doc.colors.size() < static_cast<size_t>(kRtfMaxColors)) {
        if (m_nRed < 0 && m_nGreen < 0 && m_nBlue < 0)
            m_doc.colors.emplace_back(); // "auto"
        else
            m_doc.colors.emplace_back(std::max(m_nRed, 0), std::max(m_nGreen, 0),
                                      std::max(m_nBlue, 0));
    }
    m_nRed = m_nGreen = m_nBlue = -1;
}

RtfDocument ParsePlainText(const QByteArray& text) {
    RtfDocument doc;
    const QString decoded = QString::fromUtf8(text);
    for (QString line : decoded.split(QLatin1Char('\n'))) {
        line.remove(QLatin1Char('\r'));
        RtfParagraph para;
        if (!line.isEmpty()) para.runs.push_back(RtfRun{line, RtfCharFormat{}});
        doc.paragraphs.push_back(std::move(para));
    }
    return doc;
}

} // namespace

QString RtfParagraph::Text() const {
    QString text;
    for (const RtfRun& run : runs)
        text += run.text;
    return text;
}

QString RtfDocument::PlainText() const {
    QStringList lines;
    for (const RtfParagraph& para : paragraphs)
        lines << para.Text();
    return lines.join(QLatin1Char('\n'));
}

RtfDocument ParseRtf(const QByteArray& rtf) {
    qsizetype start = 0;
    while (start < rtf.size() &&
           (rtf[start] == ' ' || rtf[start] == '\t' || rtf[start] == '\r' || rtf[start] == '\n'))
        ++start;
    if (!rtf.mid(start, 5).startsWith("{\\rtf")) return ParsePlainText(rtf);
    const QByteArray body = rtf.mid(start);
    return Parser(body).Run();
}

} // namespace qm
