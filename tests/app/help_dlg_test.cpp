#include "app/help_dlg.h"
#include "app/rtf_reader.h"
#include "widget_test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTextBrowser>
#include <gtest/gtest.h>

namespace qm {
namespace {

QByteArray ShippedHelp() {
    QFile file(QStringLiteral(QM_HELP_RTF));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << QM_HELP_RTF;
    return file.readAll();
}

// Runs the test in a directory of its own and comes back afterwards.
class InDirectory {
public:
    explicit InDirectory(const QString& dir) : m_strOld(QDir::currentPath()) {
        EXPECT_TRUE(QDir::setCurrent(dir));
    }
    ~InDirectory() { QDir::setCurrent(m_strOld); }

private:
    QString m_strOld;
};

void WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
}

TEST(HelpLookup, CurrentDirectoryThenProgramThenItsDataDirectory) {
    EXPECT_EQ(CHelpDlg::CandidatePaths("Help.rtf", "/work/here", "/opt/qm/bin"),
              (QStringList{"/work/here/Help.rtf", "/opt/qm/bin/Help.rtf",
                           "/opt/qm/share/qmplayer/Help.rtf"}));
    EXPECT_EQ(CHelpDlg::CandidatePaths("/etc/Help.rtf", "/work/here", "/opt/qm/bin"),
              QStringList{"/etc/Help.rtf"});
    EXPECT_EQ(CHelpDlg::CandidatePaths("Help.rtf", "/opt/qm/bin", "/opt/qm/bin"),
              (QStringList{"/opt/qm/bin/Help.rtf", "/opt/qm/share/qmplayer/Help.rtf"}));
    EXPECT_TRUE(CHelpDlg::CandidatePaths("", "/a", "/b").isEmpty());
}

TEST(HelpLookup, FileInTheCurrentDirectoryWinsOverTheProgramsOwn) {
    QTemporaryDir here;
    ASSERT_TRUE(here.isValid());
    const QString name =
        QStringLiteral("qm-help-probe-%1.rtf").arg(QCoreApplication::applicationPid());
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    WriteFile(besideProgram, "{\\rtf1 beside the program}");
    InDirectory in(here.path());

    CHelpDlg fromProgram;
    EXPECT_TRUE(fromProgram.LoadFile(name));
    EXPECT_EQ(fromProgram.LoadedPath(), besideProgram);
    EXPECT_EQ(fromProgram.RtfText(), "{\\rtf1 beside the program}");

    WriteFile(here.filePath(name), "{\\rtf1 current directory}");
    CHelpDlg fromHere;
    EXPECT_TRUE(fromHere.LoadFile(name));
    EXPECT_EQ(QFileInfo(fromHere.LoadedPath()).canonicalFilePath(),
              QFileInfo(here.filePath(name)).canonicalFilePath());
    EXPECT_EQ(fromHere.HelpFileName(), name);
    QFile::remove(besideProgram);
}

TEST(HelpDialog, MissingFileShowsTheErrorPageWithTheReason) {
    QTemporaryDir here;
    InDirectory in(here.path());
    CHelpDlg dlg;
    EXPECT_FALSE(dlg.LoadFile("qm-no-such-help.rtf"));
    EXPECT_TRUE(dlg.IsFileLoaded());
    EXPECT_EQ(dlg.RtfText(),
              CHelpDlg::FileErrorPage("qm-no-such-help.rtf", "No such file or directory"));
    dlg.OnInitDialog();
    const QString shown = dlg.View()->toPlainText();
    EXPECT_TRUE(shown.contains("HelpDialog Internal Error"));
    EXPECT_TRUE(shown.contains("Failed to load RTF file 'qm-no-such-help.rtf'"));
    EXPECT_TRUE(shown.contains("Reason: No such file or directory"));
    EXPECT_TRUE(dlg.View()->isReadOnly());
}

TEST(HelpDialog, OversizedFileIsRefusedWithoutReadingIt) {
    QTemporaryDir here;
    InDirectory in(here.path());
    QFile big(here.filePath("Help.rtf"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(CHelpDlg::kMaxFileSize + 1)); // sparse
    big.close();
    CHelpDlg dlg;
    EXPECT_FALSE(dlg.LoadFile("Help.rtf"));
    EXPECT_EQ(dlg.RtfText(), CHelpDlg::FileErrorPage("Help.rtf", "File too large"));
}

TEST(HelpDialog, TextSourcesWithoutAFile) {
    CHelpDlg none;
    EXPECT_EQ(none.windowTitle(), "Help");
    none.OnInitDialog();
    EXPECT_EQ(none.RtfText(), CHelpDlg::NoSourceErrorPage());

    CHelpDlg resource;
    resource.SetResourceId(CHelpDlg::kHelpResource);
    resource.OnInitDialog();
    EXPECT_EQ(resource.RtfText(), ShippedHelp());
    EXPECT_TRUE(resource.View()->toPlainText().startsWith("QMPlayer Command Definition"));

    CHelpDlg missing;
    missing.SetResourceId(999);
    missing.OnInitDialog();
    EXPECT_EQ(missing.RtfText(), CHelpDlg::ResourceErrorPage());
}

// A text `textWidth` pixels long in lines of 10 pixels.
struct FakeText {
    int textWidth;
    mutable int calls = 0;
    int operator()(int width) const {
        ++calls;
        return 10 * ((textWidth + width - 1) / width);
    }
};

TEST(HelpFit, NarrowestWidthThatKeepsTheTextAsShortAsAtFullWidth) {
    FakeText oneLine{1000};
    // 1000 wide fits on one line; 5 pixels more, and the menu bar and 2 on the height.
    EXPECT_EQ(CHelpDlg::FitTextSize(std::cref(oneLine), 1920, 1080, 20), QSize(1005, 32));
    EXPECT_LT(oneLine.calls, 20); // bisection, not a walk over every width

    FakeText shortLine{30};
    EXPECT_EQ(CHelpDlg::FitTextSize(std::cref(shortLine), 1920, 1080, 20), QSize(105, 32));

    // The screen width is rounded down to even: 1921 wide is two lines at 1920.
    FakeText justWider{1921};
    EXPECT_EQ(CHelpDlg::FitTextSize(std::cref(justWider), 1921, 1080, 20), QSize(966, 42));

    FakeText longText{10000000};
    EXPECT_EQ(CHelpDlg::FitTextSize(std::cref(longText), 1920, 1080, 20).height(), 1000);
}

TEST(HelpFit, DialogFitsItsTextAndScrollsALongOne) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QRect full = screen->geometry();

    QTemporaryDir here;
    InDirectory in(here.path());
    WriteFile(here.filePath("short.rtf"), "{\\rtf1 Short.}");
    CHelpDlg narrow;
    narrow.LoadFile("short.rtf");
    narrow.OnInitDialog();
    EXPECT_EQ(narrow.TextSize().width(), 105);
    EXPECT_LT(narrow.width(), full.width() / 2);

    QByteArray longText = "{\\rtf1 ";
    for (int i = 0; i < 400; ++i)
        longText += "A line of help text that goes on for a while.\\par ";
    longText += "}";
    WriteFile(here.filePath("long.rtf"), longText);
    CHelpDlg tall;
    tall.LoadFile("long.rtf");
    tall.OnInitDialog();
    EXPECT_EQ(tall.TextSize().height(), full.height() - 80);
    tall.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tall));
    EXPECT_GT(tall.View()->verticalScrollBar()->maximum(), 0);
    // The view keeps filling the window when it is resized.
    tall.resize(400, 300);
    EXPECT_EQ(tall.View()->geometry(), QRect(2, 2, 396, 296));
}

} // namespace
} // namespace qm
