#pragma once
// One client's connection to the stand-in server over TDS, from its pre-login to its end: it
// takes the client's bytes as they arrive and gives back the bytes of its replies. It touches
// no socket, so the same session serves a listener, a test, or a fuzzer.

#include "SessionDatabase.h"
#include "TdsPacket.h"
#include "TdsRequests.h"
#include "TdsTokens.h"
#include "TsqlTranslation.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace zeph::tds {

/// What every session of one server shares.
struct ServeSettings {
    std::string databasePath;
    std::string login;
    std::string password;
    /// The procedures' view of the host (settings, clock, GUIDs, fault hooks).
    sqlite::ServerContext context;
    /// Told one line per connection, login and statement when set (the --verbose log).
    std::function<void(const std::string &)> log;
    /// Connections served at once; one more is closed at once.
    int maxConnections = 64;
    /// A connection that has not logged in within this time is closed.
    std::chrono::milliseconds loginTimeout{30000};
    /// A refused login is answered no sooner than this, and refusals to all clients together
    /// no more often than ten times this long apart.
    std::chrono::milliseconds failedLoginDelay{1000};
};

class Session {
public:
    Session(const ServeSettings &settings, int id, std::string peer);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    /// Takes bytes from the client; returns the bytes to send back (may be empty). Throws
    /// ProtocolError when the client breaks the protocol: the connection is then ended.
    std::string receive(std::string_view bytes);
    /// True once the session has nothing more to do (a refused login): close the connection.
    bool finished() const { return m_finished; }
    /// `attention` is asked while a statement runs: true when the client has cancelled it (its
    /// attention is waiting to be read) or has gone away. The statement is then stopped, and
    /// the attention acknowledged when it is read.
    void watchForAttention(std::function<bool()> attention);
    /// `send` takes the first packets of a long reply while the rest is still being read, so
    /// that no reply is held whole; it returns false when the client has gone (the statement
    /// is then stopped and the session ends). It may wait for the client to read. Without it,
    /// receive returns the whole reply.
    void sendAhead(std::function<bool(std::string_view)> send) { m_send = std::move(send); }
    /// True once the client has logged in.
    bool loggedIn() const { return m_stage == Stage::Ready; }
    /// True when the session ended with a login refused for its name or password (the
    /// connection's owner slows such answers down).
    bool loginFailed() const { return m_loginFailed; }

private:
    enum class Stage { PreLogin, Login, Ready };
    struct Prepared {
        std::string text;
        std::vector<std::string> parameters;
    };

    std::string reply(const Message &message);
    void preLogin(const Message &message, TokenWriter &out, std::string &raw);
    void login(const Message &message, TokenWriter &out);
    void sqlBatch(const Message &message, TokenWriter &out);
    void rpc(const Message &message, TokenWriter &out);
    void rpcCall(const RpcCall &call, TokenWriter &out);
    void request(const Message &message, TokenWriter &out);
    void refuseRequest(const std::string &why, TokenWriter &out);
    bool hasHeaders() const { return m_version >= version::k72; }

    /// What a procedure call gives besides its tokens.
    struct CallOutcome {
        int returnStatus = 0;
        std::optional<std::int32_t> handle; // a statement prepared by the call
    };
    /// Runs a call; false when it failed (its error written).
    using CallHandler = bool (Session::*)(const RpcCall &, CallOutcome &, TokenWriter &);
    struct SystemProcedure {
        std::string_view name;
        std::uint16_t number;
        CallHandler handler;
    };
    static const std::vector<SystemProcedure> &systemProcedures();
    bool executeSql(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    bool prepare(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    bool prepExec(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    bool execute(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    bool unprepare(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    bool databaseProcedure(const RpcCall &call, CallOutcome &outcome, TokenWriter &out);
    void transactionRequest(const Message &message, TokenWriter &out);
    /// Runs a text's statements; false when one failed (its error written). `inProc`: the
    /// statements run inside a procedure call (sp_executesql), so each ends with DONEINPROC.
    bool runText(const std::string &text, const std::vector<std::string> &parameters,
                 const std::vector<TypedValue> &values, bool inProc, TokenWriter &out);
    void runStatement(const TsqlStatement &s, const std::vector<TypedValue> &values, bool inProc,
                      TokenWriter &out);
    void beginIfImplicit(TokenWriter &out);
    void endTransaction(bool commit, bool ifOpen, TokenWriter &out);
    void writeFailure(const ServerFailure &failure, TokenWriter &out);
    void say(const std::string &line) const;
    /// True once the client's attention was seen, until it is acknowledged.
    bool stopWanted();
    /// Gives the reply's whole packets so far to the client; stops the statement (throws) when
    /// the client has cancelled it or gone away.
    void sendWhole(TokenWriter &out);

    const ServeSettings &m_settings;
    int m_id;
    std::string m_peer;
    PacketReader m_reader;
    Stage m_stage = Stage::PreLogin;
    std::size_t m_packetSize = packet::kDefaultSize;
    bool m_finished = false;
    bool m_loginFailed = false;
    std::uint32_t m_version = version::k74;
    bool m_implicitTransactions = false;
    std::uint64_t m_transactionId = 0;
    std::string m_user;
    std::unique_ptr<SessionDatabase> m_database;
    std::map<std::int32_t, Prepared> m_prepared;
    std::int32_t m_nextHandle = 1;
    std::uint64_t m_lastCount = 0; // rows the last statement read or changed
    std::function<bool()> m_attention;
    std::function<bool(std::string_view)> m_send;
    PacketCutter m_reply{packet::kReply};
    bool m_cancelled = false; // an attention was seen and is not yet acknowledged
};

} // namespace zeph::tds
