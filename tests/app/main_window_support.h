#pragma once
// Shared by the main-window tests: generated recordings and prompts that
// answer the window's questions instead of a user.

#include "app/orbiscope_dlg.h"
#include "app/user_prompts.h"

#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace qm::testing_support {

class ScriptedPrompts : public IUserPrompts {
public:
    void Notice(QWidget*, const QString& text) override { notices << text; }
    bool Confirm(QWidget*, const QString& text) override {
        questions << text;
        return confirmAnswer;
    }
    QString OpenFileName(QWidget*, const QString& filter) override {
        openFilters << filter;
        return openAnswer;
    }
    QString SaveFileName(QWidget*, const QString& name, const QString& filter,
                         const QString& suffix) override {
        proposedNames << name;
        saveFilters << filter;
        saveSuffixes << suffix;
        return saveAnswer;
    }
    QString FolderName(QWidget*, const QString&) override { return folderAnswer; }
    int ChooseItem(QWidget*, const QString&, const QStringList& items) override {
        choices << items;
        return chooseAnswer;
    }

    QStringList notices;
    QStringList questions;
    bool confirmAnswer = false;
    QStringList openFilters;
    QString openAnswer;
    QStringList proposedNames;
    QStringList saveFilters;
    QStringList saveSuffixes;
    QString saveAnswer;
    QString folderAnswer;
    QList<QStringList> choices;
    int chooseAnswer = -1;
};

// Recordings written once per test process into a temporary folder.
struct Recordings {
    std::string eightCameras; // cameras 1-8, 176 x 144, 8 fps, 6 s
    std::string headerOnly;   // the last 512 bytes of it: a header whose tables are missing
    std::string noMagic;      // 1024 zero bytes
    std::string missing;      // a path that does not exist
    std::string diskImage;    // cameras 1-4 as a DVR disk image with a wrapped ring
    std::string diskNoTable;  // the same disk with its block table zeroed
    std::string withGap;      // cameras 1-2, 12 s, nothing recorded from second 3 to 8
};
const Recordings& TestRecordings();

// Pumps events until done() holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

} // namespace qm::testing_support
