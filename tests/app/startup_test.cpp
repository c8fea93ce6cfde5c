#include "app/help_dlg.h"
#include "app/orbiscope_app.h"
#include "app/orbiscope_dlg.h"
#include "app/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace qm {
namespace {

class RecordingPrompts : public IUserPrompts {
public:
    void Notice(QWidget*, const QString& text) override { notices << text; }
    QStringList notices;
};

class Startup : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString InstanceName() const { return m_dir.filePath(QStringLiteral("inst")); }

    QTemporaryDir m_dir;
    RecordingPrompts m_prompts;
};

TEST_F(Startup, OptionsReachTheMainWindow) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-path", "/data/rec.avr", "-m", "4", "-c", "5,6,7"}),
              COrbiscopeApp::Outcome::MainWindow);
    COrbiscopeDlg* dlg = app.MainDialog();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(dlg->windowTitle(), "QMPlayer HD");
    EXPECT_EQ(dlg->RecordingPath(), "/data/rec.avr");
    EXPECT_EQ(dlg->Mode(), 4);
    EXPECT_EQ(dlg->CamMapEntries(), (CamMap{5, 6, 7}));
    EXPECT_TRUE(m_prompts.notices.isEmpty());
    EXPECT_FALSE(app.Version().isEmpty());
}

TEST_F(Startup, InvalidCameraMapIsNotHandedOn) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-path", "rec.avr", "-m", "2", "-c", "2,2"}),
              COrbiscopeApp::Outcome::MainWindow);
    EXPECT_EQ(app.CommandLine().m_nCamMap, (CamMap{2, 2}));
    EXPECT_EQ(app.MainDialog()->CamMapEntries(), CamMap{});
    EXPECT_EQ(app.MainDialog()->Mode(), 2);
}

TEST_F(Startup, ValidMapIsHandedOnEvenWithoutMode) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-path", "rec.avr", "-c", "1,2"}),
              COrbiscopeApp::Outcome::MainWindow);
    EXPECT_EQ(app.MainDialog()->CamMapEntries(), (CamMap{1, 2}));
    EXPECT_EQ(app.MainDialog()->Mode(), 0);
}

TEST_F(Startup, HelpWinsOverEverythingElse) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-path", "rec.avr", "-m", "4", "-h"}),
              COrbiscopeApp::Outcome::Help);
    EXPECT_EQ(app.MainDialog(), nullptr);
    ASSERT_NE(app.HelpDialog(), nullptr);
    EXPECT_EQ(app.HelpDialog()->windowTitle(), "Command Help");
    EXPECT_EQ(app.HelpDialog()->HelpFileName(), "Help.rtf");
}

TEST_F(Startup, RecordingIsOpenedShortlyAfterTheWindowIsUp) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-path", "rec.avr"}), COrbiscopeApp::Outcome::MainWindow);
    QSignalSpy spy(app.MainDialog(), &COrbiscopeDlg::openFromCommandLineRequested);
    EXPECT_FALSE(app.MainDialog()->IsTimerActive(COrbiscopeDlg::kTimerOpenFromCommandLine));
    app.MainDialog()->show();
    EXPECT_TRUE(app.MainDialog()->IsTimerActive(COrbiscopeDlg::kTimerOpenFromCommandLine));
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.takeFirst().at(0).toString(), "rec.avr");
    // One shot only, also across a hide and show.
    app.MainDialog()->hide();
    app.MainDialog()->show();
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(Startup, WithoutPathNothingIsOpened) {
    COrbiscopeApp app(&m_prompts, InstanceName());
    ASSERT_EQ(app.InitInstance({"-m", "2", "rec.avr"}), COrbiscopeApp::Outcome::MainWindow);
    QSignalSpy spy(app.MainDialog(), &COrbiscopeDlg::openFromCommandLineRequested);
    app.MainDialog()->show();
    EXPECT_FALSE(app.MainDialog()->IsTimerActive(COrbiscopeDlg::kTimerOpenFromCommandLine));
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(app.MainDialog()->RecordingPath(), "");
}

TEST_F(Startup, SecondInstanceRaisesTheFirstAndSaysSo) {
    COrbiscopeApp first(&m_prompts, InstanceName());
    ASSERT_EQ(first.InitInstance({}), COrbiscopeApp::Outcome::MainWindow);
    QDialog* window = first.MainWidget();
    window->showMinimized();
    QTest::qWait(50);

    RecordingPrompts secondPrompts;
    COrbiscopeApp second(&secondPrompts, InstanceName());
    EXPECT_EQ(second.InitInstance({"-path", "other.avr"}), COrbiscopeApp::Outcome::AnotherInstance);
    EXPECT_EQ(secondPrompts.notices, QStringList{"QMPlayer already start"});
    EXPECT_EQ(second.MainWidget(), nullptr);
    EXPECT_FALSE(second.Version().isEmpty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(m_prompts.notices.isEmpty());
}

// Once a recording is open the caption names it; a second start then finds
// no window to raise and ends without a word.
TEST_F(Startup, SecondInstanceIsSilentWhileTheFirstShowsARecording) {
    COrbiscopeApp first(&m_prompts, InstanceName());
    ASSERT_EQ(first.InitInstance({}), COrbiscopeApp::Outcome::MainWindow);
    first.MainWidget()->setWindowTitle("QMPlayer HD - [ /data/rec.avr ]");

    RecordingPrompts secondPrompts;
    COrbiscopeApp second(&secondPrompts, InstanceName());
    EXPECT_EQ(second.InitInstance({}), COrbiscopeApp::Outcome::AnotherInstance);
    EXPECT_TRUE(secondPrompts.notices.isEmpty());
    EXPECT_FALSE(first.MainWidget()->isVisible());
}

TEST_F(Startup, SecondInstanceIsSilentWhileTheFirstShowsHelp) {
    COrbiscopeApp first(&m_prompts, InstanceName());
    ASSERT_EQ(first.InitInstance({"-h"}), COrbiscopeApp::Outcome::Help);
    RecordingPrompts secondPrompts;
    COrbiscopeApp second(&secondPrompts, InstanceName());
    EXPECT_EQ(second.InitInstance({}), COrbiscopeApp::Outcome::AnotherInstance);
    EXPECT_TRUE(secondPrompts.notices.isEmpty());
}

TEST_F(Startup, InstanceEndsWithItsApplication) {
    {
        COrbiscopeApp first(&m_prompts, InstanceName());
        ASSERT_EQ(first.InitInstance({}), COrbiscopeApp::Outcome::MainWindow);
    }
    COrbiscopeApp next(&m_prompts, InstanceName());
    EXPECT_EQ(next.InitInstance({}), COrbiscopeApp::Outcome::MainWindow);
    EXPECT_TRUE(m_prompts.notices.isEmpty());
}

// A crashed instance leaves its socket file behind; nobody answers on it.
TEST_F(Startup, ChannelLeftByACrashedInstanceIsTakenOver) {
    const QByteArray path = QFile::encodeName(InstanceName());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(InstanceName()));

    COrbiscopeApp first(&m_prompts, InstanceName());
    ASSERT_EQ(first.InitInstance({}), COrbiscopeApp::Outcome::MainWindow);

    RecordingPrompts secondPrompts;
    COrbiscopeApp second(&secondPrompts, InstanceName());
    EXPECT_EQ(second.InitInstance({}), COrbiscopeApp::Outcome::AnotherInstance);
    EXPECT_EQ(secondPrompts.notices, QStringList{"QMPlayer already start"});
}

// The real program: the instance channel lives in the user's runtime directory.
TEST_F(Startup, SecondProcessEndsAndAProcessAfterACrashTakesOver) {
    const QString program = qEnvironmentVariable("QMPLAYER");
    if (program.isEmpty()) GTEST_SKIP() << "QMPLAYER not set";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", m_dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString channel = m_dir.filePath("QMPlayerHD");

    auto start = [&](QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(env);
        process.setProgram(program);
        process.setArguments(args);
        process.start();
        return process.waitForStarted(10000);
    };
    auto waitForChannel = [&] {
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(channel) && timer.elapsed() < 20000)
            QTest::qWait(50);
        return QFile::exists(channel);
    };

    QProcess first;
    ASSERT_TRUE(start(first, {"-h"}));
    ASSERT_TRUE(waitForChannel());

    // The help window is not the player's window: no message, the process just ends.
    QProcess second;
    ASSERT_TRUE(start(second, {"-path", "x.avr"}));
    EXPECT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished(10000);
    ASSERT_TRUE(QFile::exists(channel)); // left behind by the killed process

    QProcess third;
    ASSERT_TRUE(start(third, {"-h"}));
    // It runs on, as the instance, instead of ending as a second one would.
    EXPECT_FALSE(third.waitForFinished(2000));
    EXPECT_EQ(third.state(), QProcess::Running);
    // ...and answers the next start.
    QProcess fourth;
    ASSERT_TRUE(start(fourth, {}));
    EXPECT_TRUE(fourth.waitForFinished(20000));
    EXPECT_EQ(fourth.exitCode(), 0);
    third.kill();
    third.waitForFinished(10000);
}

} // namespace
} // namespace qm
