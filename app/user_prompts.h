#pragma once
// Questions and notices for the user. The windows ask through this interface
// so that tests can answer or record them instead of a modal box.

#include <QString>
#include <QStringList>

class QWidget;

namespace qm {

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // A notice with an OK button only; returns when the user has closed it.
    virtual void Notice(QWidget* parent, const QString& text) = 0;
    // An open-file dialog; the chosen path, or empty when cancelled. The
    // filter is in the Windows form "Name|*.ext|Name|*.*|".
    virtual QString OpenFileName(QWidget*, const QString&) { return {}; }
    // A question with Yes and No; true for Yes.
    virtual bool Confirm(QWidget*, const QString& /*text*/) { return false; }
    // A save-file dialog proposing `name`, adding `defaultSuffix` when the
    // user types none; empty when cancelled. It does not ask about an
    // existing file: the caller does, through Confirm.
    virtual QString SaveFileName(QWidget*, const QString& /*name*/, const QString& /*filter*/,
                                 const QString& /*defaultSuffix*/) {
        return {};
    }
    // A folder to write into (it may be made in the dialog); empty when cancelled.
    virtual QString FolderName(QWidget*, const QString& /*title*/) { return {}; }
    // One of `items`, picked in a list under `text`; -1 when cancelled.
    virtual int ChooseItem(QWidget*, const QString& /*text*/, const QStringList& /*items*/) {
        return -1;
    }
};

// "Name|*.ext|Name|*.*|" -> "Name (*.ext);;Name (*.*)", as Qt's dialogs take it.
QString QtFileFilter(const QString& windowsFilter);

// Real message boxes, titled with the application's title.
class CMessageBoxPrompts : public IUserPrompts {
public:
    void Notice(QWidget* parent, const QString& text) override;
    bool Confirm(QWidget* parent, const QString& text) override;
    QString OpenFileName(QWidget* parent, const QString& filter) override;
    QString SaveFileName(QWidget* parent, const QString& name, const QString& filter,
                         const QString& defaultSuffix) override;
    QString FolderName(QWidget* parent, const QString& title) override;
    int ChooseItem(QWidget* parent, const QString& text, const QStringList& items) override;
};

} // namespace qm
