#include "features/link_policy.h"

#include "util/conversions.h"

namespace tessavin {

namespace {

// Collects the first message; each value falls back to its default on its own.
struct Reader {
    QString settingsName;
    QString error;

    void refuse(const QString& message)
    {
        if (error.isEmpty())
            error = message;
    }
    // "--retries" for an option, "<file>: [link] retries=x" for the file.
    static QString optionName(const char* option) { return QStringLiteral("--") + QLatin1String(option); }
    QString keyName(const char* key, const QString& text) const
    {
        return QStringLiteral("%1: [link] %2=%3").arg(settingsName, QLatin1String(key), text);
    }

    std::optional<int> number(const QString& where, const QString& text, int min, int max)
    {
        const auto value = ParseInteger(text);
        if (!value)
            refuse(QStringLiteral("%1: %2").arg(where, NotAnIntegerMessage(text)));
        else if (*value < min || *value > max)
            refuse(QStringLiteral("%1: %2 is out of range (%3 to %4)").arg(where).arg(*value).arg(min).arg(max));
        else
            return value;
        return std::nullopt;
    }

    // The option, else the file's key, else nothing.
    std::optional<int> pick(const std::optional<QString>& option, const char* optionText,
                            const std::optional<QString>& stored, const char* key, int min, int max)
    {
        if (option)
            return number(optionName(optionText), *option, min, max);
        if (stored)
            return number(keyName(key, *stored), *stored, min, max);
        return std::nullopt;
    }
};

std::optional<QString> present(const QString& text) { return text.isEmpty() ? std::nullopt : std::optional(text); }

} // namespace

ResolvedLinkPolicy ResolveLinkPolicy(const LinkPolicy& defaults, const StoredSettings& stored,
                                     const QString& settingsName, const LinkPolicyOptions& options)
{
    ResolvedLinkPolicy resolved{defaults, {}};
    Reader reader{settingsName, {}};
    if (options.fastReplies) {
        resolved.policy.fastReplies = *options.fastReplies;
    } else if (!stored.fastText.isEmpty()) {
        const QString fast = stored.fastText.trimmed().toLower();
        if (fast == QLatin1String("true") || fast == QLatin1String("1"))
            resolved.policy.fastReplies = true;
        else if (fast == QLatin1String("false") || fast == QLatin1String("0"))
            resolved.policy.fastReplies = false;
        else
            reader.refuse(reader.keyName("fast", stored.fastText) + QStringLiteral(": neither true nor false"));
    }
    if (const auto retries = reader.pick(options.retries, "retries", present(stored.retriesText), "retries", 0,
                                         kMaxRetries))
        resolved.policy.retries = *retries;
    if (const auto wait = reader.pick(options.retryWait, "retry-wait", present(stored.retryWaitText), "retry_wait",
                                      kMinRetryWait, kMaxRetryWait))
        resolved.policy.retryWait = std::chrono::milliseconds(*wait);
    resolved.error = reader.error;
    return resolved;
}

void ApplyLinkPolicy(Session& session, const LinkPolicy& policy)
{
    session.replies = policy.fastReplies ? RegReplies::Fast : RegReplies::Standard;
    session.retries = policy.retries;
    LinkTiming timing = session.link.timing();
    timing.retryFirstByteWait = policy.retryWait;
    session.link.setTiming(timing);
}

} // namespace tessavin
