// The Start button: the poll responder.
#include "form1.h"

#include "poll_responder.h"

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
    tessavin::Session& s = session();

    const tessavin::PollHooks hooks{
        [this](const QString& line) {
            Memo->appendPlainText(line);
            processMessages();
        },
        [&s] { s.link.pause(s.link.timing().address0Pause); },
    };

    QString failure;
    for (;;) {
        std::optional<ExchangeLock> lock;
        const std::size_t received = s.link.ReceiveAny(
            s.frame.data(), s.frame.size(), [this] { return responderStop_; },
            [this, &lock] {
                if (auto taken = beginExchange())
                    lock.emplace(std::move(*taken));
            });
        if (received == 0)
            break; // stopped
        if (lock) {
            const tessavin::PollInputs inputs{day->text(), add1->text(), add2->text(), QTime::currentTime(),
                                              QLocale::system().decimalPoint()};
            const tessavin::PollOutcome outcome = tessavin::AnswerPoll(s.frame, inputs, hooks);
            if (!outcome.error.isEmpty()) {
                failure = outcome.error;
                break;
            }
            if (outcome.answerLength != 0)
                s.link.SendBytes(s.frame.data(), outcome.answerLength);
        }
        lock.reset();
        if (responderStop_)
            break;
        processMessages();
    }
    responderRunning_ = false;
    if (!failure.isEmpty())
        showMessage(failure);
}
