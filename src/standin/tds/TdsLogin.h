#pragma once
// The start of a TDS connection: the pre-login exchange (this server never encrypts) and the
// LOGIN7 message with its SQL login.

#include <cstdint>
#include <string>
#include <string_view>

namespace zeph::tds {

/// The pre-login answer to a client's pre-login message: the server's version, no encryption,
/// no instance name check, no multiple active result sets. Throws ProtocolError for a malformed
/// request.
std::string preLoginReply(std::string_view request);

/// What a LOGIN7 message carries that the server uses.
struct Login {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    std::string hostName;
    std::string userName;
    std::string password;
    std::string appName;
    std::string database;
    /// The client asks for an integrated (Windows) login, which this server has not.
    bool integrated = false;
};

/// Reads a LOGIN7 message. Throws ProtocolError for a malformed one.
Login parseLogin7(std::string_view payload);

} // namespace zeph::tds
