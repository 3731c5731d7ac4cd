#pragma once
// How the link runs for a whole session: fast replies, retries and the retry
// wait. One function resolves it, for the window and tessavin-cli alike, from
// the front end's defaults, the settings file's [link] section and the options:
//
//     [link]
//     fast=true          (or false; 1 and 0 too)
//     retries=3          (0 to 20)
//     retry_wait=1000    (milliseconds, 10 to 60000)
//
// Each value is the option's when one is given, else the settings file's when
// it holds the key, else the front end's default. A value that cannot be read is
// refused with one message, the same in both front ends, and the default stands.
#include "features/session.h"
#include "util/settings_file.h"

#include <QString>

#include <chrono>
#include <optional>

namespace tessavin {

struct LinkPolicy {
    bool fastReplies = false;
    int retries = 0;
    std::chrono::milliseconds retryWait = LinkTiming{}.retryFirstByteWait;
};

constexpr int kMinRetryWait = 10;
constexpr int kMaxRetryWait = 60000;

// What a front end's command line says of the link; nullopt where it says nothing.
struct LinkPolicyOptions {
    std::optional<bool> fastReplies; // --fast (true) or --no-fast (false)
    std::optional<QString> retries; // --retries N, as typed
    std::optional<QString> retryWait; // --retry-wait MS, as typed
};

struct ResolvedLinkPolicy {
    LinkPolicy policy;
    // The first value that could not be read, e.g. "log.log: [link] fast=bogus:
    // neither true nor false" or "--retries: 21 is out of range (0 to 20)";
    // empty when every value was read.
    QString error;
};

// `settingsName` is the settings file as the message names it.
ResolvedLinkPolicy ResolveLinkPolicy(const LinkPolicy& defaults, const StoredSettings& stored,
                                     const QString& settingsName, const LinkPolicyOptions& options);

// Runs the session by the policy: its replies, its retries and the retry wait
// (in the link's timing).
void ApplyLinkPolicy(Session& session, const LinkPolicy& policy);

} // namespace tessavin
