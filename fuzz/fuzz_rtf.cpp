// The help text reader: any bytes through the RTF parser and into a text
// document, as the help window shows them.

#include "app/rtf_reader.h"

#include <QGuiApplication>
#include <QTextDocument>

#include <cstdint>
#include <cstdlib>

namespace {
int g_argc = 1;
char g_name[] = "fuzz_rtf";
char* g_argv[] = {g_name, nullptr};
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Fonts in a text document need a GUI application; offscreen needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QGuiApplication(g_argc, g_argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qm::RtfDocument rtf = qm::ParseRtf(bytes);
    if (rtf.colors.size() > size_t(qm::kRtfMaxColors) + 1) __builtin_trap();
    for (const auto& paragraph : rtf.paragraphs)
        if (paragraph.format.tabStops.size() > size_t(qm::kRtfMaxTabStops)) __builtin_trap();
    (void)rtf.PlainText();
    QTextDocument document;
    qm::RenderRtf(rtf, document);
    return 0;
}
