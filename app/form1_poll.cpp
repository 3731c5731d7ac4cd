// The Start button: the poll responder.
#include "app/form1.h"

#include "features/poll_responder.h"

#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>

// Answers the controller's polls until Stop is pressed, the window closes or a
// field cannot be used. While it waits for a poll other commands may run (they
// own the port until they end); from a poll's first byte until its answer has
// gone out it holds the exchange lock, so nothing else touches the Frame buffer.
void TForm1::Button2Click()
{
    // One loop only, and never one nested inside a running command's wait.
    if (responderRunning_ || exchangeInProgress() || closing_)
        return;
    responderRunning_ = true;
    responderStop_ = false;

    std::optional<ExchangeLock> lock;
    tessavin::PollResponderHooks hooks;
    hooks.inputs = [this] {
        return tessavin::PollInputs{day->text(), add1->text(), add2->text(), QTime::currentTime(),
                                    QLocale::system().decimalPoint()};
    };
    hooks.stopRequested = [this] { return responderStop_; };
    hooks.claim = [this, &lock] {
        if (auto taken = beginExchange())
            lock.emplace(std::move(*taken));
        return lock.has_value();
    };
    hooks.release = [&lock] { lock.reset(); };
    hooks.poll.trace = [this](const QString& line) {
        Memo->appendPlainText(line);
        processMessages();
    };
    const tessavin::PollResponderEnd end = tessavin::RunPollResponder(session(), hooks);
    responderRunning_ = false;
    if (!end.error.isEmpty())
        showMessage(end.error);
}
