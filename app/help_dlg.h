#pragma once
// The command-line help window: a read-only rich-text view of an RTF text,
// sized to that text. The text comes from a file (the start-up gives
// "Help.rtf") or from an RTF resource by number; when neither can be had the
// view shows an error page saying why.

#include <QByteArray>
#include <QDialog>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QTextBrowser;

namespace qm {

class CHelpDlg : public QDialog {
    Q_OBJECT
public:
    // The program's help text as a resource (the same text as Help.rtf).
    static constexpr int kHelpResource = 247;
    // Files above this size are refused rather than read whole.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    explicit CHelpDlg(QWidget* parent = nullptr);

    void SetCaption(const QString& caption) { setWindowTitle(caption); }
    // Reads the file whole; true when it was read. A relative name is looked
    // up as CandidatePaths() lists. On failure the text becomes the error
    // page naming the file and the reason.
    bool LoadFile(const QString& name);
    bool LoadHelpFile(const QString& name) { return LoadFile(name); }
    // An RTF resource to show instead of a file (0 = none); set before the
    // window is shown.
    void SetResourceId(int id) { m_nResourceId = id; }

    // Builds and sizes the view; runs once, when the window is first shown
    // (callable earlier, e.g. by tests).
    void OnInitDialog();

    const QString& HelpFileName() const { return m_strFileName; }
    const QString& LoadedPath() const { return m_strLoadedPath; }
    bool IsFileLoaded() const { return m_bFileLoaded; }
    const QByteArray& RtfText() const { return m_strRtf; }
    QTextBrowser* View() const { return m_pView; }
    // The size the view asked for, before the window's margins.
    QSize TextSize() const { return m_textSize; }

    // Where a help file name is looked for, in order: the current directory,
    // next to the program, then the installed data directory beside it. An
    // absolute name is used as it is.
    static QStringList CandidatePaths(const QString& name, const QString& currentDir,
                                      const QString& programDir);

    // The error pages. Names and reasons are escaped so that they show as
    // written.
    static QByteArray FileErrorPage(const QString& name, const QString& reason);
    static QByteArray ResourceErrorPage();
    static QByteArray NoSourceErrorPage();

    // The view's size for a text: the narrowest width between 100 and the
    // screen width (rounded down to even) at which the text is no taller than
    // at the full width, found by bisection; then 5 more pixels of width and
    // menuBarHeight + 2 of height, the height limited to screenHeight - 80.
    // heightAt gives the text's height for a width.
    static QSize FitTextSize(const std::function<int(int width)>& heightAt, int screenWidth,
                             int screenHeight, int menuBarHeight);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int HeightForWidth(int width) const;

    QTextBrowser* m_pView = nullptr;
    QByteArray m_strRtf;
    QString m_strFileName;
    QString m_strLoadedPath;
    int m_nResourceId = 0;
    bool m_bFileLoaded = false;
    bool m_bInitialised = false;
    QSize m_textSize;
};

// The start-up's name for the help window.
class CCommandHelpDlg : public CHelpDlg {
    Q_OBJECT
public:
    using CHelpDlg::CHelpDlg;
};

} // namespace qm
