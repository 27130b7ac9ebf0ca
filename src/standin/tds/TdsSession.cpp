#include "TdsSession.h"

#include "CatalogProcedures.h"
#include "TdsLogin.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"
#include "platform/QueryLimits.h"

#include <algorithm>
#include <cstdio>

namespace zeph::tds {
namespace {

constexpr std::uint8_t kEnvDatabase = 1;
constexpr std::uint8_t kEnvLanguage = 2;
constexpr std::uint8_t kEnvPacketSize = 4;
constexpr std::uint8_t kEnvBegin = 8;
constexpr std::uint8_t kEnvCommit = 9;
constexpr std::uint8_t kEnvRollback = 10;
constexpr std::uint16_t kCommandSelect = 0xC1;
constexpr std::uint16_t kCommandExecute = 0xE0;
constexpr const char *kDatabaseName = "TarvoDb";
constexpr std::size_t kLoggedText = 300;
// Until a client has logged in, a message may not be longer than this: a pre-login or a login
// is a few hundred bytes.
constexpr std::size_t kMaxLoginMessage = 16 * 1024;

/// SQL Server's numbers for the refusals of requests.
namespace rpcerr {
constexpr int kNoSuchProcedure = 2812;      // Could not find stored procedure '...'.
constexpr int kParameterMissing = 201;      // Procedure ... expects parameter ..., not supplied.
constexpr int kNoPreparedStatement = 8179;  // Could not find prepared statement with handle ...
constexpr int kParameterNotSupplied = 8178; // The parameterized query expects the parameter ...
constexpr int kBadRequestStream = 8009;     // The incoming TDS RPC protocol stream is incorrect.
constexpr int kLoginFailed = 18456;         // Login failed for user '...'.
constexpr int kUntrustedDomain = 18452;     // ... cannot be used with Integrated authentication.
constexpr int kCannotOpenDatabase = 4060;   // Cannot open database "..." requested by the login.
constexpr int kUnsupportedVersion = 18493;  // the client's TDS version is not served
} // namespace rpcerr

std::string shortened(const std::string &text) {
    std::string line = text.size() > kLoggedText ? text.substr(0, kLoggedText) + "..." : text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    return line;
}

std::string textParam(const std::vector<RpcParam> &params, std::size_t i, const char *what) {
    if (i >= params.size() || !std::holds_alternative<std::string>(params[i].value))
        throw TsqlError(tsqlerr::kSyntax, std::string("The call gives no ") + what + ".");
    return std::get<std::string>(params[i].value);
}

bool isNull(const DbValue &value) {
    return std::holds_alternative<std::monostate>(value);
}

std::vector<TypedValue> valuesFrom(const std::vector<RpcParam> &params, std::size_t first) {
    std::vector<TypedValue> values;
    for (std::size_t i = first; i < params.size(); ++i)
        values.push_back({params[i].type, params[i].value});
    return values;
}

// A text for the --verbose log on one line: control characters (a newline in a login name
// among them) are written as escapes, so that what a client sends cannot forge a line.
std::string escapedForLog(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0085, U+2028 and U+2029 end a line for some readers too.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        const bool separator = c == 0xE2 && i + 2 < text.size() &&
                               static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                               (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                                static_cast<unsigned char>(text[i + 2]) == 0xA9);
        char hex[16];
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else if (c1) {
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned char>(text[i + 1]));
            out += hex;
            i += 1;
        } else if (separator) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

DbParam procedureArgument(const std::string &name, const DbValue &value) {
    return {name,
            std::holds_alternative<std::int64_t>(value) ? DbParamType::Integer : DbParamType::Text,
            value};
}

/// A failure with SQL Server's number, from whatever was thrown.
ServerFailure failureOf(const std::exception_ptr &thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const TsqlError &e) {
        return {e.number(), e.what()};
    } catch (const Error &e) {
        if (auto server = sqltext::serverErrorOf(e.description()))
            return {server->number(), server->what()};
        return {serverErrorNumber(e), e.description()};
    } catch (const std::bad_alloc &) {
        return {701, "There is insufficient system memory to run this query."};
    } catch (const std::exception &e) {
        return {50000, e.what()};
    }
}

} // namespace

Session::Session(const ServeSettings &settings, int id, std::string peer)
    : m_settings(settings)
    , m_id(id)
    , m_peer(std::move(peer))
    , m_reader(kMaxLoginMessage) {
    say("connected from " + m_peer);
}

Session::~Session() {
    say("closed");
}

void Session::watchForAttention(std::function<bool()> attention) {
    m_attention = std::move(attention);
    if (m_database)
        m_database->watch([this] { return stopWanted(); });
}

bool Session::stopWanted() {
    if (!m_cancelled && m_attention && m_attention()) {
        m_cancelled = true;
        say("cancel seen: the statement under way is stopped");
    }
    return m_cancelled;
}

void Session::say(const std::string &line) const {
    if (m_settings.log)
        m_settings.log("session " + std::to_string(m_id) + ": " + escapedForLog(line));
}

std::string Session::receive(std::string_view bytes) {
    m_reader.feed(bytes);
    std::string out;
    while (!m_finished) {
        std::optional<Message> message = m_reader.next();
        if (!message)
            break;
        out += reply(*message);
    }
    return out;
}

std::string Session::reply(const Message &message) {
    TokenWriter out(m_version);
    std::string raw;
    switch (m_stage) {
    case Stage::PreLogin:
        if (message.type == packet::kPreLogin) {
            preLogin(message, out, raw);
            return packetsFor(packet::kReply, raw, m_packetSize);
        }
        [[fallthrough]]; // a client may log in without a pre-login
    case Stage::Login:
        if (message.type != packet::kLogin7)
            throw ProtocolError("the client did not log in");
        login(message, out);
        break;
    case Stage::Ready:
        switch (message.type) {
        case packet::kSqlBatch:
        case packet::kRpc:
        case packet::kTransactionManager:
            request(message, out);
            break;
        case packet::kAttention:
            // The statement it cancels was stopped when it was seen (or had ended): it is
            // acknowledged, and the session goes on.
            say("cancel");
            m_cancelled = false;
            out.doneToken(token::kDone, done::kAttention, 0, 0);
            break;
        default: {
            // A bulk load, a federated login ...: refused, and the session goes on.
            char kind[8];
            std::snprintf(kind, sizeof kind, "0x%02X", message.type);
            refuseRequest(std::string("a request of kind ") + kind + " is not taken by this server",
                          out);
            break;
        }
        }
        break;
    }
    m_reply.add(out.take());
    return m_reply.finish(m_packetSize);
}

void Session::sendWhole(TokenWriter &out) {
    if (m_send) {
        m_reply.add(out.take());
        const std::string packets = m_reply.takeWhole(m_packetSize);
        if (!packets.empty() && !m_send(packets)) {
            // The client has gone: nothing more is sent, and the session ends.
            m_finished = true;
            m_send = nullptr;
            say("ended: the client stopped taking the result");
        }
    }
    if (m_finished || stopWanted())
        throw Error(kQueryCancelled, "The statement was stopped: its client cancelled it.");
}

void Session::preLogin(const Message &message, TokenWriter &, std::string &raw) {
    raw = preLoginReply(message.payload);
    m_stage = Stage::Login;
}

void Session::login(const Message &message, TokenWriter &out) {
    const Login login = parseLogin7(message.payload);
    // The session speaks the client's version, up to 7.4, the newest this server knows.
    const std::uint32_t asked = login.tdsVersion;
    m_version = asked >= version::k74    ? version::k74
                : asked >= version::k73B ? version::k73B
                : asked >= version::k73A ? version::k73A
                : asked >= version::k72  ? version::k72
                                         : version::k71;
    out = TokenWriter(m_version);
    auto refuse = [&](int number, const std::string &text) {
        say("login refused: " + text);
        out.message({number, 1, 14, text, {}}, true);
        out.doneToken(token::kDone, done::kError, 0, 0);
        m_finished = true;
    };
    if (asked < version::k71) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", asked);
        return refuse(rpcerr::kUnsupportedVersion,
                      std::string("The client asked for TDS version ") + hex +
                          "; this server speaks TDS 7.1 to 7.4.");
    }
    if (login.integrated || login.userName.empty()) {
        m_loginFailed = true;
        return refuse(rpcerr::kUntrustedDomain,
                      "Login failed. The login is from an untrusted domain and cannot be used "
                      "with Integrated authentication.");
    }
    if (m_settings.password.empty() || !equalsIgnoreCase(login.userName, m_settings.login) ||
        login.password != m_settings.password) {
        m_loginFailed = true;
        return refuse(rpcerr::kLoginFailed, "Login failed for user '" + login.userName + "'.");
    }
    if (!login.database.empty() && !equalsIgnoreCase(login.database, kDatabaseName))
        return refuse(rpcerr::kCannotOpenDatabase,
                      "Cannot open database \"" + login.database +
                          "\" requested by the login. The login failed.");
    try {
        m_database = std::make_unique<SessionDatabase>(
            m_settings.databasePath, m_settings.context,
            "SQL login " + login.userName + " from " + login.hostName + " (" + login.appName +
                ", session " + std::to_string(m_id) + " of zephrane-sim serve)");
        m_database->serverName(); // read now, outside any transaction of the session's
        if (m_attention)
            m_database->watch([this] { return stopWanted(); });
    } catch (const Error &e) {
        return refuse(rpcerr::kCannotOpenDatabase,
                      "Cannot open database \"" + std::string(kDatabaseName) +
                          "\" requested by the login. The login failed: " + e.description());
    }
    m_user = login.userName;
    if (login.packetSize != 0)
        m_packetSize =
            std::clamp<std::size_t>(login.packetSize, packet::kMinSize, packet::kMaxSize);
    say("login " + login.userName + " from " + login.hostName + " (" + login.appName +
        ") accepted");
    out.envChange(kEnvDatabase, kDatabaseName, "master");
    out.message({5701, 2, 0, "Changed database context to 'TarvoDb'.", {}}, false);
    out.envChange(kEnvLanguage, "us_english", "");
    out.message({5703, 1, 0, "Changed language setting to us_english.", {}}, false);
    out.envCollation();
    out.loginAck("Microsoft SQL Server");
    out.envChange(kEnvPacketSize, std::to_string(m_packetSize), std::to_string(m_packetSize));
    out.doneToken(token::kDone, done::kFinal, 0, 0);
    m_stage = Stage::Ready;
    m_reader.setMaxMessage(PacketReader::kDefaultMaxMessage);
}

// A request the server cannot read or take is refused with an error; its packets were whole,
// so the session goes on with the client's next request.
void Session::request(const Message &message, TokenWriter &out) {
    TokenWriter answer(m_version);
    try {
        if (message.type == packet::kSqlBatch)
            sqlBatch(message, answer);
        else if (message.type == packet::kRpc)
            rpc(message, answer);
        else
            transactionRequest(message, answer);
    } catch (const ProtocolError &e) {
        return refuseRequest(e.what(), out);
    } catch (const UnsupportedRequest &e) {
        return refuseRequest(e.what(), out);
    }
    out = std::move(answer);
}

void Session::refuseRequest(const std::string &why, TokenWriter &out) {
    writeFailure(
        {rpcerr::kBadRequestStream,
         "The incoming tabular data stream (TDS) protocol stream is incorrect: " + why + "."},
        out);
    out.doneToken(token::kDone, done::kError, 0, 0);
}

void Session::writeFailure(const ServerFailure &failure, TokenWriter &out) {
    say("error " + std::to_string(failure.number) + ": " + shortened(failure.text));
    out.message({failure.number, 1, 16, failure.text, {}}, true);
}

void Session::sqlBatch(const Message &message, TokenWriter &out) {
    const SqlBatch batch = parseSqlBatch(message.payload, hasHeaders());
    say("batch: " + shortened(batch.text));
    if (auto catalog = catalogBatch(batch.text)) {
        // A driver's catalogue call sent as text, with its arguments by position.
        try {
            const StatementResult result = m_database->call(catalog->procedure, catalog->arguments);
            if (result.rows) {
                out.rowSet(*result.rows, result.binaryColumns);
                out.doneToken(token::kDoneInProc, done::kMore | done::kCount, kCommandSelect,
                              static_cast<std::uint64_t>(result.count));
            }
            out.returnStatus(result.returnStatus);
            out.doneToken(token::kDoneProc, done::kCount, kCommandExecute,
                          static_cast<std::uint64_t>(result.count));
        } catch (...) {
            writeFailure(failureOf(std::current_exception()), out);
            out.doneToken(token::kDone, done::kError, 0, 0);
        }
        return;
    }
    runText(batch.text, {}, {}, false, out);
}

bool Session::runText(const std::string &text, const std::vector<std::string> &parameters,
                      const std::vector<TypedValue> &values, bool inProc, TokenWriter &out) {
    const std::uint8_t kind = inProc ? token::kDoneInProc : token::kDone;
    const std::uint16_t more = inProc ? done::kMore : 0;
    std::vector<TsqlStatement> statements;
    try {
        statements = translate(text, parameters, m_database ? &m_database->catalogue() : nullptr);
    } catch (...) {
        writeFailure(failureOf(std::current_exception()), out);
        out.doneToken(kind, static_cast<std::uint16_t>(done::kError | more), 0, 0);
        return false;
    }
    if (statements.empty())
        out.doneToken(kind, more, 0, 0);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const std::uint16_t status =
            i + 1 < statements.size() ? static_cast<std::uint16_t>(done::kMore) : more;
        try {
            runStatement(statements[i], values, inProc, out);
        } catch (...) {
            // The batch ends at its first failure, as when SQL Server aborts it.
            writeFailure(failureOf(std::current_exception()), out);
            out.doneToken(kind, static_cast<std::uint16_t>(done::kError | more), 0, 0);
            return false;
        }
        // runStatement wrote the statement's result; its completion closes it.
        out.doneToken(statements[i].kind == StatementKind::Exec && !inProc ? token::kDoneProc
                                                                           : kind,
                      static_cast<std::uint16_t>(status | done::kCount),
                      statements[i].kind == StatementKind::Query ? kCommandSelect : 0, m_lastCount);
    }
    return true;
}

void Session::runStatement(const TsqlStatement &s, const std::vector<TypedValue> &values,
                           bool inProc, TokenWriter &out) {
    auto typed = [&](int parameter) -> TypedValue {
        if (parameter == serverValue::kServerName)
            return {{SqlKind::NText}, m_database->serverName()};
        if (parameter == serverValue::kDatabaseName)
            return {{SqlKind::NText}, std::string(kDatabaseName)};
        if (parameter < 1 || static_cast<std::size_t>(parameter) > values.size())
            throw TsqlError(rpcerr::kParameterNotSupplied,
                            "The parameterized query expects the parameter @P" +
                                std::to_string(parameter) + ", which was not supplied.");
        return values[static_cast<std::size_t>(parameter - 1)];
    };
    auto value = [&](int parameter) { return typed(parameter).value; };
    m_lastCount = 0;
    switch (s.kind) {
    case StatementKind::Empty:
        return;
    case StatementKind::Query: {
        std::vector<DbValue> bound;
        std::vector<bool> binary;
        for (int p : s.parameters) {
            TypedValue v = typed(p);
            binary.push_back(v.type.kind == SqlKind::Binary);
            bound.push_back(std::move(v.value));
        }
        beginIfImplicit(out);
        // A long result goes out as it is read, in the types its first rows give.
        std::vector<ColumnType> types;
        auto parts = [&](const DbRowSet &part, const std::vector<bool> &binaryColumns, bool first) {
            if (first) {
                types = streamedColumnTypes(part, binaryColumns);
                out.columnMetadata(part, types);
            }
            out.rowTokens(part, types);
            sendWhole(out);
        };
        StatementResult result = m_database->query(s.sql, bound, binary, parts);
        if (result.rows)
            out.rowSet(*result.rows, result.binaryColumns);
        m_lastCount = static_cast<std::uint64_t>(result.count);
        return;
    }
    case StatementKind::Exec: {
        std::vector<DbParam> args;
        for (const auto &a : s.arguments)
            args.push_back(procedureArgument(a.name, a.parameter ? value(a.parameter) : a.literal));
        beginIfImplicit(out);
        StatementResult result = m_database->call(s.procedure, args);
        if (result.rows) {
            out.rowSet(*result.rows, result.binaryColumns);
            out.doneToken(token::kDoneInProc, done::kMore | done::kCount, kCommandSelect,
                          static_cast<std::uint64_t>(result.count));
        }
        if (!inProc)
            out.returnStatus(result.returnStatus);
        return;
    }
    case StatementKind::SetOption:
        if (s.option == "IMPLICIT_TRANSACTIONS")
            m_implicitTransactions = s.on;
        return;
    case StatementKind::BeginTransaction:
        if (m_database->inTransaction())
            throw TsqlError(50000, "This server does not nest transactions: one is open already.");
        m_database->begin();
        out.envTransaction(kEnvBegin, ++m_transactionId);
        return;
    case StatementKind::Commit:
    case StatementKind::Rollback:
        endTransaction(s.kind == StatementKind::Commit, s.ifOpen, out);
        return;
    }
}

void Session::beginIfImplicit(TokenWriter &out) {
    if (!m_implicitTransactions || m_database->inTransaction())
        return;
    m_database->begin();
    out.envTransaction(kEnvBegin, ++m_transactionId);
}

void Session::endTransaction(bool commit, bool ifOpen, TokenWriter &out) {
    if (!m_database->inTransaction()) {
        if (ifOpen)
            return;
        throw TsqlError(commit ? 3902 : 3903,
                        std::string("The ") + (commit ? "COMMIT" : "ROLLBACK") +
                            " TRANSACTION request has no corresponding BEGIN TRANSACTION.");
    }
    say(commit ? "commit" : "rollback");
    m_database->end(commit);
    out.envTransaction(commit ? kEnvCommit : kEnvRollback, m_transactionId);
}

void Session::rpc(const Message &message, TokenWriter &out) {
    const RpcRequest request = parseRpc(message.payload, hasHeaders());
    for (const RpcCall &call : request.calls) {
        if (m_cancelled)
            break; // the client cancelled the request: its other calls do not run
        rpcCall(call, out);
    }
}

// The server's own procedures a client library calls, by name or by number; any other name is
// a procedure of the database's.
const std::vector<Session::SystemProcedure> &Session::systemProcedures() {
    static const std::vector<SystemProcedure> procedures = {
        {"sp_executesql", procid::kExecuteSql, &Session::executeSql},
        {"sp_prepexec", procid::kPrepExec, &Session::prepExec},
        {"sp_prepare", procid::kPrepare, &Session::prepare},
        {"sp_execute", procid::kExecute, &Session::execute},
        {"sp_unprepare", procid::kUnprepare, &Session::unprepare},
    };
    return procedures;
}

void Session::rpcCall(const RpcCall &call, TokenWriter &out) {
    CallOutcome outcome;
    bool ok = true;
    try {
        const SystemProcedure *found = nullptr;
        for (const auto &p : systemProcedures()) {
            if (call.number != 0 ? call.number == p.number : equalsIgnoreCase(call.name, p.name))
                found = &p;
        }
        if (found)
            ok = (this->*found->handler)(call, outcome, out);
        else if (call.number != 0)
            throw TsqlError(rpcerr::kNoSuchProcedure, "Could not find stored procedure number " +
                                                          std::to_string(call.number) + ".");
        else
            ok = databaseProcedure(call, outcome, out);
    } catch (...) {
        writeFailure(failureOf(std::current_exception()), out);
        ok = false;
    }
    out.returnStatus(ok ? outcome.returnStatus : -6);
    // Each output parameter comes back with its value at the call's end: what the procedure
    // gave it, or else what the client sent.
    for (std::size_t i = 0; i < call.params.size(); ++i) {
        const RpcParam &p = call.params[i];
        if (!p.output)
            continue;
        if (i == 0 && outcome.handle)
            out.returnInt(0, p.name, *outcome.handle);
        else
            out.returnValue(static_cast<std::uint16_t>(i), p.name, p.type, p.value);
    }
    out.doneToken(token::kDoneProc, ok ? done::kFinal : done::kError, kCommandExecute, 0);
}

bool Session::executeSql(const RpcCall &call, CallOutcome &, TokenWriter &out) {
    const std::string text = textParam(call.params, 0, "statement");
    const bool declared = call.params.size() > 1 && !isNull(call.params[1].value);
    const std::vector<std::string> names =
        declared ? declaredParameters(textParam(call.params, 1, "parameter list"))
                 : std::vector<std::string>{};
    say("sp_executesql: " + shortened(text));
    return runText(text, names, valuesFrom(call.params, 2), true, out);
}

bool Session::prepare(const RpcCall &call, CallOutcome &outcome, TokenWriter &) {
    if (call.params.size() < 3)
        throw TsqlError(rpcerr::kParameterMissing,
                        "Procedure or function 'sp_prepare' expects parameter '@stmt', which "
                        "was not supplied.");
    Prepared prepared{textParam(call.params, 2, "statement"),
                      isNull(call.params[1].value)
                          ? std::vector<std::string>{}
                          : declaredParameters(textParam(call.params, 1, "parameter list"))};
    outcome.handle = m_nextHandle++;
    say("prepare " + std::to_string(*outcome.handle) + ": " + shortened(prepared.text));
    m_prepared[*outcome.handle] = std::move(prepared);
    return true;
}

bool Session::prepExec(const RpcCall &call, CallOutcome &outcome, TokenWriter &out) {
    prepare(call, outcome, out);
    const Prepared &prepared = m_prepared.at(*outcome.handle);
    return runText(prepared.text, prepared.parameters, valuesFrom(call.params, 3), true, out);
}

bool Session::execute(const RpcCall &call, CallOutcome &, TokenWriter &out) {
    const auto *number =
        call.params.empty() ? nullptr : std::get_if<std::int64_t>(&call.params[0].value);
    auto found = number ? m_prepared.find(static_cast<std::int32_t>(*number)) : m_prepared.end();
    if (found == m_prepared.end())
        throw TsqlError(rpcerr::kNoPreparedStatement,
                        "Could not find prepared statement with handle " +
                            (number ? std::to_string(*number) : "NULL") + ".");
    say("execute " + std::to_string(found->first));
    return runText(found->second.text, found->second.parameters, valuesFrom(call.params, 1), true,
                   out);
}

bool Session::unprepare(const RpcCall &call, CallOutcome &, TokenWriter &) {
    if (!call.params.empty())
        if (auto number = std::get_if<std::int64_t>(&call.params[0].value))
            m_prepared.erase(static_cast<std::int32_t>(*number));
    return true;
}

bool Session::databaseProcedure(const RpcCall &call, CallOutcome &outcome, TokenWriter &out) {
    say("call " + call.name);
    const bool byName = std::all_of(call.params.begin(), call.params.end(),
                                    [](const RpcParam &p) { return !p.name.empty(); });
    beginIfImplicit(out);
    std::optional<StatementResult> result;
    if (byName) {
        std::vector<DbParam> args;
        for (const auto &p : call.params)
            args.push_back(procedureArgument(p.name, p.value));
        result = m_database->call(call.name, args);
    } else {
        std::vector<DbValue> values;
        for (const auto &p : call.params)
            values.push_back(p.value);
        result = m_database->callByPosition(call.name, values);
        if (!result)
            throw TsqlError(rpcerr::kNoSuchProcedure,
                            "Could not find stored procedure '" + call.name + "'.");
    }
    if (result->rows) {
        out.rowSet(*result->rows, result->binaryColumns);
        out.doneToken(token::kDoneInProc, done::kMore | done::kCount, kCommandSelect,
                      static_cast<std::uint64_t>(result->count));
    }
    outcome.returnStatus = result->returnStatus;
    return true;
}

void Session::transactionRequest(const Message &message, TokenWriter &out) {
    const TransactionRequest request = parseTransactionRequest(message.payload, hasHeaders());
    try {
        switch (request.kind) {
        case TransactionRequestKind::Begin:
            say("begin transaction" + (request.name.empty() ? "" : " " + request.name));
            if (!m_database->inTransaction()) {
                m_database->begin();
                out.envTransaction(kEnvBegin, ++m_transactionId);
            }
            break;
        case TransactionRequestKind::Commit:
        case TransactionRequestKind::Rollback:
            if (!request.name.empty())
                say("transaction " + request.name);
            endTransaction(request.kind == TransactionRequestKind::Commit, true, out);
            if (request.beginAnother) {
                m_database->begin();
                out.envTransaction(kEnvBegin, ++m_transactionId);
            }
            break;
        case TransactionRequestKind::Other:
            throw TsqlError(tsqlerr::kUnsupported,
                            "This transaction manager request is not supported by this server.");
        }
        out.doneToken(token::kDone, done::kFinal, 0, 0);
    } catch (...) {
        writeFailure(failureOf(std::current_exception()), out);
        out.doneToken(token::kDone, done::kError, 0, 0);
    }
}

} // namespace zeph::tds
