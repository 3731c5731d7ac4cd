#pragma once
// The device control commands of the configuration link: each is one Command
// frame without data, built in a Config frame buffer of its own. Only the status
// query, which changes nothing, is sent again when it fails (retry.h).
//
// A reply's checksum (ConfigReplyChecksum) is held against it where the
// controller can be seen to send one. A command that changes the controller is
// never repeated: a reply cut short or with a checksum that fails leaves it
// unconfirmed (ReplyDamaged), whatever the rest of the reply says.
#include "protocol/config_link.h"

#include <QString>

namespace tessavin {

struct Session;

// Status codes of the status query.
namespace config_status {
constexpr int kFailed = -1; // the transaction failed
constexpr int kOk = 0;
constexpr int kBadJson = 1;
constexpr int kNoMemory = 2;
constexpr int kNoFile = 3;
} // namespace config_status

// What one operation (a transfer, a query with its repeats) has seen of the
// checksums behind the controller's replies. Once one reply carried a valid
// checksum, the controller has shown that it sends them, and a reply without
// one is damaged. Before that, a reply without a valid checksum is taken as it
// came, as from a controller that sends none, and remembered as taken unchecked;
// a failed checksum on a request that will be sent again is first asked about
// again (a good repeat shows the checksum), unless a reply was already taken
// unchecked.
class ConfigChecksums {
public:
    // The verdict on a reply that passed its other checks: None or BadChecksum.
    LinkError judge(const std::uint8_t* bytes, std::size_t received, bool askedAgainOnFailure);
    // Learns from a reply that is not judged here (it is taken whatever its checksum).
    void observe(const std::uint8_t* bytes, std::size_t received);
    bool shown() const { return shown_; }
    bool takenUnchecked() const { return unchecked_; }
    void forgetUnchecked() { unchecked_ = false; }

private:
    bool shown_ = false;
    bool unchecked_ = false;
};

// Builds the Command frame for the code and runs the transaction, the reply
// judged by `check`; the reply is left in `frame`. Sent once.
LinkError RunConfigCommand(Session& session, ConfigFrame& frame, std::uint8_t code,
                           const ReplyCheck& check = ConfigReplyCheck);

// The check of a reply to a command that changes the controller: it must hold
// the data its byte 2 announces (Truncated), and bytes behind the data must be
// its checksum (BadChecksum). A reply that ends with its data passes.
LinkError ConfigCommandCheck(const std::uint8_t* bytes, std::size_t received);

// Command 0x37: byte 1 of the reply, one of the statuses above; -1 with the
// error when the transaction fails. A status the controller does not define
// (ImpossibleValue) and a checksum that fails are damage: asked again, then a
// failed query.
LinkResult<int> StatusQuery(Session& session);
// Command 0x36: None when the transaction succeeds; a damaged reply
// (ReplyDamaged) leaves it unconfirmed.
LinkError SetTestMode(Session& session);
// Command 0x63: as SetTestMode. Closing the port afterwards is the caller's.
LinkError RebootController(Session& session);

// What a status query result means: "NOT OK = -1" (the transaction failed),
// "OK", "NOT OK = " followed by "bad json", "no memory", "no file" or nothing.
QString StatusQueryText(int status);

} // namespace tessavin
