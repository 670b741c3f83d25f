#include "devtools/devsim/Session.h"

#include <algorithm>

#include "link/PrintableText.h"

namespace kbr::devsim {

namespace {

std::string TypeText(uint8_t type) {
    const char* name = MessageTypeName(type);
    return name ? std::string(name) : "type " + std::to_string(type);
}

// The reply type a faulted request gets instead of its own: one the waiting operation does not
// expect (REP_SET_CONFIG makes a configuration read ask again).
uint8_t WrongTypeFor(uint8_t requestType) {
    return ReplyTypeFor(requestType) == REP_SET_CONFIG ? REP_ACTION : REP_SET_CONFIG;
}

// A client's text for a log line: at most 64 characters, made printable.
std::string Quoted(std::string_view text) { return "'" + PrintableText(text, 64) + "'"; }

}  // namespace

Session::Session(DeviceModel& device, std::span<const FaultSpec> faults, std::string peer, const Logger* logger,
                 SessionRules rules)
    : device_(device),
      faults_(faults.begin(), faults.end()),
      peer_(std::move(peer)),
      logger_(logger ? logger : &silent_),
      rules_(rules) {}

Session::~Session() { DropTransferData(); }

void Session::DropTransferData() {
    if (rules_.budget) rules_.budget->Give(transfer_.data.size());
    transfer_.data = {};
}

Bytes Session::NotLoggedIn(uint8_t requestType, uint8_t replyType) {
    logger_->Problem(peer_ + ": " + TypeText(requestType) + " before a successful login on this connection; refused");
    return Reply(replyType, 1);
}

Bytes Session::Reply(uint8_t type, uint8_t status, uint8_t param) const {
    return BuildReply(type, device_.VersionBytes(), status, param);
}

Bytes Session::FaultReply(uint8_t requestType, FaultAction action) const {
    const uint8_t replyType = ReplyTypeFor(requestType).value_or(REP_ACTION);
    switch (action) {
        case FaultAction::Status: return Reply(replyType, 1);
        case FaultAction::WrongType: return Reply(WrongTypeFor(requestType), 0);
        case FaultAction::Short16: {
            Bytes reply = Reply(replyType, 0);
            reply.resize(UNDELIVERED_READ_SIZE, 0);
            return reply;
        }
        case FaultAction::Silent:
        case FaultAction::Close: break;
    }
    return {};
}

Bytes Session::BadRequest(uint8_t requestType, const std::string& why) {
    logger_->Problem(peer_ + ": bad " + TypeText(requestType) + " request: " + why);
    return Reply(ReplyTypeFor(requestType).value_or(REP_ACTION), 1);
}

void Session::NoteTrailingBytes(uint8_t requestType, size_t received, size_t expected) {
    if (received > expected) {
        logger_->Problem(peer_ + ": " + TypeText(requestType) + " of " + std::to_string(received) +
                         " bytes, expected " + std::to_string(expected) + ": " + std::to_string(received - expected) +
                         " trailing bytes ignored");
    }
}

Outcome Session::Handle(std::span<const uint8_t> request) {
    if (request.empty()) return {};
    if (request.size() > RECEIVE_BUFFER_SIZE) {
        logger_->Problem(peer_ + ": bad request: " + std::to_string(request.size()) +
                         " bytes or more, longer than any request (at most " + std::to_string(RECEIVE_BUFFER_SIZE) +
                         "); ignored");
        return {};
    }
    const uint8_t type = request[0];
    if (!IsRequestType(type)) {
        const char* name = MessageTypeName(type);
        logger_->Problem(peer_ + ": bad request: unknown request type " + std::to_string(type) +
                         (name ? std::string(" (") + name + " is a reply)" : std::string()) + ", " +
                         std::to_string(request.size()) + " bytes; no reply");
        return {};
    }

    const unsigned count = ++requestCounts_[type];
    for (const auto& fault : faults_) {
        if (fault.requestType == type && fault.nth == count) {
            logger_->Info(peer_ + ": " + TypeText(type) + " #" + std::to_string(count) + ": fault " +
                          FaultActionName(fault.action));
            Outcome outcome;
            if (fault.action == FaultAction::Close) {
                outcome.close = true;
            } else if (fault.action != FaultAction::Silent) {
                outcome.reply = FaultReply(type, fault.action);
            }
            return outcome;
        }
    }

    const bool needsLogin =
        type == REQ_SET_CONFIG || type == REQ_UPGRADE_START || type == REQ_UPGRADE_DATA || type == REQ_ACTION;
    Bytes reply;
    if (needsLogin && rules_.requireLogin && !loggedIn_) {
        // The reply type the client waits for: the end for a chunk that says it is the last.
        const uint8_t replyType = type == REQ_UPGRADE_DATA ? ExpectedReplyType(request).value_or(REP_UPGRADE_DATA)
                                                           : ReplyTypeFor(type).value_or(REP_ACTION);
        return {NotLoggedIn(type, replyType), false, false};
    }
    switch (type) {
        case REQ_LOGIN: reply = HandleLogin(request); break;
        case REQ_GET_CONFIG: reply = HandleGetConfig(request); break;
        case REQ_SET_CONFIG: reply = HandleSetConfig(request); break;
        case REQ_GET_DIAG: reply = HandleGetDiag(request); break;
        case REQ_UPGRADE_START: reply = HandleUpgradeStart(request); break;
        case REQ_UPGRADE_DATA: reply = HandleUpgradeData(request); break;
        case REQ_ACTION: reply = HandleAction(request); break;
        case REQ_GET_VALUE: reply = HandleGetValue(request); break;
        default: return {};
    }
    // The program's link never delivers a read of exactly 16 bytes; one more zero byte changes
    // nothing any reply reader looks at.
    if (reply.size() == UNDELIVERED_READ_SIZE) reply.push_back(0);
    if (logger_->InfoWanted()) {
        if (const auto header = ReadReplyHeader(reply)) {
            logger_->Info(peer_ + ": " + TypeText(type) + " (" + std::to_string(request.size()) + " bytes) -> " +
                          TypeText(header->type) + " status " + std::to_string(header->status) + " (" +
                          std::to_string(reply.size()) + " bytes)");
        }
    }
    Outcome outcome{std::move(reply), false, false};
    if (rebooting_) {
        rebooting_ = false;
        outcome.close = true;
        outcome.reboot = true;
    }
    return outcome;
}

Bytes Session::HandleLogin(std::span<const uint8_t> request) {
    const Decoded<LoginRequest> login = ReadLoginRequest(request);
    if (!login) return BadRequest(REQ_LOGIN, login.error);
    NoteTrailingBytes(REQ_LOGIN, request.size(), login.length);
    const bool accepted = device_.CheckPassword(login->password);
    if (accepted) loggedIn_ = true;
    if (!accepted) logger_->Info(peer_ + ": login refused");
    return Reply(*ReplyTypeFor(REQ_LOGIN), accepted ? 0 : 1);
}

Bytes Session::HandleGetConfig(std::span<const uint8_t> request) {
    if (request.size() < GET_CONFIG_REQUEST_SIZE) {
        return BadRequest(REQ_GET_CONFIG, "truncated: " + std::to_string(request.size()) + " of " +
                                              std::to_string(GET_CONFIG_REQUEST_SIZE) + " bytes");
    }
    NoteTrailingBytes(REQ_GET_CONFIG, request.size(), GET_CONFIG_REQUEST_SIZE);
    const auto entries = device_.ConfigEntries();
    return BuildConfigReply(device_.VersionBytes(), 0, entries);
}

Bytes Session::HandleSetConfig(std::span<const uint8_t> request) {
    const Decoded<ConfigMessage> message = ReadSetConfigRequest(request);
    if (!message) return BadRequest(REQ_SET_CONFIG, message.error);
    NoteTrailingBytes(REQ_SET_CONFIG, request.size(), message.length);
    std::string error;
    std::vector<std::string> skipped;
    if (!device_.ApplySettings(message->entries, &error, &skipped)) return BadRequest(REQ_SET_CONFIG, error);
    for (const auto& name : skipped) {
        logger_->Problem(peer_ + ": REQ_SET_CONFIG: parameter " + Quoted(name) + " is not settable; skipped");
    }
    return Reply(REP_SET_CONFIG, 0);
}

Bytes Session::HandleGetDiag(std::span<const uint8_t> request) {
    if (request.size() < GET_DIAG_REQUEST_SIZE) {
        return BadRequest(REQ_GET_DIAG, "truncated: " + std::to_string(request.size()) + " of " +
                                            std::to_string(GET_DIAG_REQUEST_SIZE) + " bytes");
    }
    NoteTrailingBytes(REQ_GET_DIAG, request.size(), GET_DIAG_REQUEST_SIZE);
    const DiagTexts texts = device_.NextDiagnostics();
    return BuildDiagReply(device_.VersionBytes(), 0, texts.first, texts.second);
}

Bytes Session::HandleUpgradeStart(std::span<const uint8_t> request) {
    if (request.size() < UPGRADE_START_REQUEST_SIZE) {
        return BadRequest(REQ_UPGRADE_START, "truncated: " + std::to_string(request.size()) + " of " +
                                                 std::to_string(UPGRADE_START_REQUEST_SIZE) + " bytes");
    }
    NoteTrailingBytes(REQ_UPGRADE_START, request.size(), UPGRADE_START_REQUEST_SIZE);
    if (transfer_.completedSections == 2) transfer_.completedSections = 0;
    transfer_.section = transfer_.completedSections + 1;
    transfer_.state = Transfer::State::Receiving;
    DropTransferData();
    transfer_.nextIndex = 0;
    transfer_.lastRemaining.reset();
    logger_->Info(peer_ + ": receiving upgrade section " + std::to_string(transfer_.section));
    return Reply(REP_UPGRADE_START, 0);
}

Bytes Session::HandleUpgradeData(std::span<const uint8_t> request) {
    const Decoded<UpgradeDataRequest> decoded = ReadUpgradeDataRequest(request);
    const UpgradeDataRequest& chunk = decoded.value;
    // A rejected chunk answers with the type the program waits for at that point: the end for
    // a chunk that says it is the last.
    const uint8_t replyType = ExpectedReplyType(request).value_or(REP_UPGRADE_DATA);
    auto reject = [&](const std::string& why) {
        logger_->Problem(peer_ + ": bad REQ_UPGRADE_DATA request: " + why);
        if (transfer_.state == Transfer::State::Receiving) {
            // The section starts again with the next REQ_UPGRADE_START: what arrived is of no use.
            transfer_.state = Transfer::State::Rejected;
            DropTransferData();
        }
        return Reply(replyType, 1);
    };
    if (!decoded) return reject(decoded.error);
    NoteTrailingBytes(REQ_UPGRADE_DATA, request.size(), decoded.length);

    if (transfer_.state == Transfer::State::Idle) return reject("no REQ_UPGRADE_START before this chunk");
    if (transfer_.state == Transfer::State::Rejected) {
        return reject("an earlier chunk of this section was rejected; waiting for REQ_UPGRADE_START");
    }
    const uint32_t index = transfer_.nextIndex;
    const auto expectedOffset = static_cast<uint16_t>(index * UPGRADE_CHUNK_SIZE);
    if (chunk.offset != expectedOffset) {
        return reject("chunk " + std::to_string(index) + " has offset " + std::to_string(chunk.offset) + ", expected " +
                      std::to_string(expectedOffset));
    }
    if (transfer_.lastRemaining && chunk.remaining != *transfer_.lastRemaining - 1) {
        return reject("chunk " + std::to_string(index) + " has remaining " + std::to_string(chunk.remaining) +
                      ", expected " + std::to_string(*transfer_.lastRemaining - 1));
    }
    if (chunk.remaining > 0 && chunk.size != UPGRADE_CHUNK_SIZE) {
        return reject("chunk " + std::to_string(index) + " has size " + std::to_string(chunk.size) + ", expected " +
                      std::to_string(UPGRADE_CHUNK_SIZE) + " before the last chunk");
    }
    if (chunk.size == 0) return reject("last chunk " + std::to_string(index) + " has size 0");
    if (rules_.budget && !rules_.budget->Take(chunk.size)) {
        return reject("the upgrade data of all connections reached the simulator's limit of " +
                      std::to_string(rules_.budget->Limit()) + " bytes; this section is dropped");
    }

    transfer_.data.insert(transfer_.data.end(), chunk.data.begin(), chunk.data.begin() + chunk.size);
    transfer_.lastRemaining = chunk.remaining;
    ++transfer_.nextIndex;
    if (chunk.remaining > 0) return Reply(REP_UPGRADE_DATA, 0);

    logger_->Info(peer_ + ": upgrade section " + std::to_string(transfer_.section) + " received, " +
                  std::to_string(transfer_.data.size()) + " bytes in " + std::to_string(transfer_.nextIndex) +
                  " chunks");
    if (rules_.budget) rules_.budget->Give(transfer_.data.size());
    device_.StoreSection(transfer_.section, std::move(transfer_.data));
    transfer_.data = {};
    transfer_.completedSections = transfer_.section;
    transfer_.state = Transfer::State::Idle;
    return Reply(REP_UPGRADE_END, 0);
}

Bytes Session::HandleAction(std::span<const uint8_t> request) {
    if (request.size() < ACTION_REQUEST_SIZE) {
        return BadRequest(REQ_ACTION, "truncated: " + std::to_string(request.size()) + " of " +
                                          std::to_string(ACTION_REQUEST_SIZE) + " bytes");
    }
    NoteTrailingBytes(REQ_ACTION, request.size(), ACTION_REQUEST_SIZE);
    // The page set uses this request for "reboot the device": acknowledge (with the version the
    // device runs before the reboot), then restart, which drops the connections.
    Bytes reply = Reply(REP_ACTION, 0);
    logger_->Info(peer_ + ": " + device_.Reboot());
    rebooting_ = true;
    return reply;
}

Bytes Session::HandleGetValue(std::span<const uint8_t> request) {
    const Decoded<std::string> decoded = ReadGetValueRequest(request);
    if (!decoded) {
        logger_->Problem(peer_ + ": bad REQ_GET_VALUE request: " + decoded.error);
        return BuildValueReply(device_.VersionBytes(), 1, "");
    }
    const std::string& key = *decoded;
    NoteTrailingBytes(REQ_GET_VALUE, request.size(), decoded.length);
    if (key == KEY_PRODUCT_ID) return BuildValueReply(device_.VersionBytes(), 0, device_.ProductId());
    if (key == KEY_FIRMWARE_VERSION) return BuildValueReply(device_.VersionBytes(), 0, device_.FirmwareText());
    logger_->Problem(peer_ + ": REQ_GET_VALUE: unknown key " + Quoted(key));
    return BuildValueReply(device_.VersionBytes(), 1, "");
}

}  // namespace kbr::devsim
