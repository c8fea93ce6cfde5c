#pragma once
// Questions and notices for the user. The windows ask through this interface
// so that tests can answer or record them instead of a modal box.

#include <QString>

class QWidget;

namespace qm {

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;
    // A notice with an OK button only; returns when the user has closed it.
    virtual void Notice(QWidget* parent, const QString& text) = 0;
};

// Real message boxes, titled with the application's title.
class CMessageBoxPrompts : public IUserPrompts {
public:
    void Notice(QWidget* parent, const QString& text) override;
};

} // namespace qm
