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
#include "session.h"

#include <QString>

namespace tessavin {

inline LinkError ErrorOf(LinkError error) { return error; }
template <class T>
LinkError ErrorOf(const LinkResult<T>& result)
{
    return result.error;
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
template <class Exchange>
auto ReadWithRetries(Session& session, LinkKind link, const QString& what, Exchange exchange) -> decltype(exchange())
{
    auto result = exchange();
    for (int attempt = 1; attempt <= session.retries && Retryable(ErrorOf(result)); ++attempt) {
        if (attempt == 1)
            ++session.retried;
        session.link.frameLog().note(link,
                                     QStringLiteral("retry %1 of %2: %3: %4")
                                         .arg(attempt)
                                         .arg(session.retries)
                                         .arg(what, LinkErrorText(ErrorOf(result))));
        session.link.frameLog().markRetry(attempt);
        result = exchange();
    }
    return result;
}

} // namespace tessavin
