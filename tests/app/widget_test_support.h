#pragma once
// Shared by the widget tests: a prompt recorder and a fixed local time zone.

#include "app/user_prompts.h"

#include <QStringList>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace qm::test {

class RecordingPrompts : public IUserPrompts {
public:
    void Notice(QWidget*, const QString& text) override { notices << text; }
    QStringList notices;
};

// Puts the process into a time zone two hours east of UTC (no daylight
// saving) for the life of the object, so that local times differ from UTC
// in a known way.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone = "UTC-2") {
        if (const char* old = std::getenv("TZ")) {
            m_bHadOld = true;
            m_strOld = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_bHadOld)
            setenv("TZ", m_strOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_bHadOld = false;
    std::string m_strOld;
};

// 2023-11-14 22:13:20 UTC.
constexpr int64_t kSomeTime = 1700000000;

} // namespace qm::test
