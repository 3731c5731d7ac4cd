#pragma once
// Read requests sent again over a noisy line. A request that only reads (a
// record, a question about a ring, a value, a script or configuration read) is
// sent again when its reply is missing, too short or fails a checksum, up to
// session.retries more times. Requests that change the controller never pass
// here: a lost reply does not say whether the change was made.
//
// The repeat waits for a quiet line without a wait of its own: a reply that
// failed ended at the idle gap (or, with fast replies, at its stated length,
// after which the link holds the next frame back for the guard gap), and the
// link purges what came since before it sends.
#include "features/session.h"

#include <QString>

#include <type_traits>

namespace tessavin {

inline LinkError ErrorOf(LinkError error) { return error; }
template <class T>
LinkError ErrorOf(const LinkResult<T>& result)
{
    return result.error;
}

// What is said of a request that changes the controller when its reply came
// damaged (ReplyDamaged): the controller answered, but not so that its answer
// can be read: "the controller's answer was damaged (bad checksum); the command
// may or may not have taken effect".
inline QString UnconfirmedText(LinkError error)
{
    return QStringLiteral("the controller's answer was damaged (%1); the command may or may not have taken effect")
        .arg(LinkErrorText(error));
}

// Whether a failure may go away when the request is sent again: not when there is no port.
inline bool Retryable(LinkError error)
{
    return error != LinkError::None && error != LinkError::PortClosed && error != LinkError::PortLost;
}

// Runs `exchange` (which builds the request and reads its reply), and again
// while it fails, up to session.retries more times. Each repeat is noted in the
// frame log before the request goes ("retry 1 of 2: log record 17: bad body
// checksum", after the failed reply logged with that verdict), and the repeated
// request is logged marked as such. The request is counted once in
// session.retried when repeated.
//
// Every try but the last is repeatable: once the controller has answered on the
// port, its reply's first byte is awaited only the retry wait (timing.h). An
// exchange that takes a bool is told whether its try is the last.
template <class Exchange>
auto ReadWithRetries(Session& session, LinkKind link, const QString& what, Exchange exchange)
{
    const auto attempt = [&](int number) {
        struct Repeatable {
            SerialLink& link;
            ~Repeatable() { link.setRepeatable(false); }
        } repeatable{session.link};
        const bool last = number >= session.retries;
        session.link.setRepeatable(!last);
        if constexpr (std::is_invocable_v<Exchange, bool>)
            return exchange(last);
        else
            return exchange();
    };
    auto result = attempt(0);
    for (int number = 1; number <= session.retries && Retryable(ErrorOf(result)); ++number) {
        if (number == 1)
            ++session.retried;
        session.link.frameLog().note(link,
                                     QStringLiteral("retry %1 of %2: %3: %4")
                                         .arg(number)
                                         .arg(session.retries)
                                         .arg(what, LinkErrorText(ErrorOf(result))));
        session.link.frameLog().markRetry(number);
        result = attempt(number);
    }
    return result;
}

} // namespace tessavin
