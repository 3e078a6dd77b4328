#pragma once
// The limits' alerts by mail (--alert-mail ADDRESS): one mail per raise and per clear, through
// the system's sendmail, with the episode's event clip attached when it is under 10 MB. The
// message is built on a thread of its own and sendmail is watched from the event loop: the
// meters never wait for either. Mails go one at a time, in order; a failure is said and the
// next one goes on.
#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "measure/LimitWatch.h"
#include "platform/mail/BackgroundJob.h"
#include "platform/mail/Sendmail.h"

namespace fm::instrument {

class AlertMail : public QObject {
  public:
    using Say = std::function<void(const std::string&)>;
    static constexpr std::uint64_t kLargestClip = 10'000'000;

    // Says at once when there is no sendmail (the alerts then reach no mailbox).
    AlertMail(std::string address, std::string meterName, std::string eventsFolder, Say say);
    ~AlertMail() override;

    void send(const fm::measure::LimitAlert& alert);

  private:
    struct Built {
        int fd = -1;
        std::string error;
    };
    void next();
    Built build(const fm::measure::LimitAlert& alert, const std::atomic<bool>& cancelled) const;

    std::string address_;
    std::string meterName_;
    std::string eventsFolder_;
    Say say_;
    std::deque<fm::measure::LimitAlert> queue_;
    bool busy_ = false;
    fm::platform::SendmailRun run_;
    // Last: made after, and so gone before, what its work reads.
    fm::platform::BackgroundJob job_;
};

}  // namespace fm::instrument
