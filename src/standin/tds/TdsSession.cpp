#include "TdsSession.h"

#include "TdsLogin.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <algorithm>

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

std::vector<DbValue> valuesFrom(const std::vector<RpcParam> &params, std::size_t first) {
    std::vector<DbValue> values;
    for (std::size_t i = first; i < params.size(); ++i)
        values.push_back(params[i].value);
    return values;
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
        return {serverErrorNumber(e.number()), e.description()};
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
    , m_peer(std::move(peer)) {
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
        m_settings.log("session " + std::to_string(m_id) + ": " + line);
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
    TokenWriter out;
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
            sqlBatch(message, out);
            break;
        case packet::kRpc:
            rpc(message, out);
            break;
        case packet::kTransactionManager:
            transactionRequest(message, out);
            break;
        case packet::kAttention:
            // The statement it cancels was stopped when it was seen (or had ended): it is
            // acknowledged, and the session goes on.
            say("cancel");
            m_cancelled = false;
            out.doneToken(token::kDone, done::kAttention, 0, 0);
            break;
        default:
            throw ProtocolError("a request of an unknown kind");
        }
        break;
    }
    return packetsFor(packet::kReply, out.take(), m_packetSize);
}

void Session::preLogin(const Message &message, TokenWriter &, std::string &raw) {
    raw = preLoginReply(message.payload);
    m_stage = Stage::Login;
}

void Session::login(const Message &message, TokenWriter &out) {
    const Login login = parseLogin7(message.payload);
    auto refuse = [&](int number, const std::string &text) {
        say("login refused: " + text);
        out.message({number, 1, 14, text, {}}, true);
        out.doneToken(token::kDone, done::kError, 0, 0);
        m_finished = true;
    };
    if (login.integrated || login.userName.empty())
        return refuse(18452, "Login failed. The login is from an untrusted domain and cannot be "
                             "used with Integrated authentication.");
    if (m_settings.password.empty() || !equalsIgnoreCase(login.userName, m_settings.login) ||
        login.password != m_settings.password)
        return refuse(18456, "Login failed for user '" + login.userName + "'.");
    if (!login.database.empty() && !equalsIgnoreCase(login.database, kDatabaseName))
        return refuse(4060, "Cannot open database \"" + login.database +
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
        return refuse(4060, "Cannot open database \"" + std::string(kDatabaseName) +
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
}

void Session::writeFailure(const ServerFailure &failure, TokenWriter &out) {
    say("error " + std::to_string(failure.number) + ": " + shortened(failure.text));
    out.message({failure.number, 1, 16, failure.text, {}}, true);
}

void Session::sqlBatch(const Message &message, TokenWriter &out) {
    const SqlBatch batch = parseSqlBatch(message.payload);
    say("batch: " + shortened(batch.text));
    runText(batch.text, {}, {}, false, out);
}

bool Session::runText(const std::string &text, const std::vector<std::string> &parameters,
                      const std::vector<DbValue> &values, bool inProc, TokenWriter &out) {
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

void Session::runStatement(const TsqlStatement &s, const std::vector<DbValue> &values, bool inProc,
                           TokenWriter &out) {
    auto value = [&](int parameter) -> DbValue {
        if (parameter == serverValue::kServerName)
            return m_database->serverName();
        if (parameter == serverValue::kDatabaseName)
            return std::string(kDatabaseName);
        if (parameter < 1 || static_cast<std::size_t>(parameter) > values.size())
            throw TsqlError(8178, "The parameterized query expects the parameter @P" +
                                      std::to_string(parameter) + ", which was not supplied.");
        return values[static_cast<std::size_t>(parameter - 1)];
    };
    m_lastCount = 0;
    switch (s.kind) {
    case StatementKind::Empty:
        return;
    case StatementKind::Query: {
        std::vector<DbValue> bound;
        for (int p : s.parameters)
            bound.push_back(value(p));
        beginIfImplicit(out);
        StatementResult result = m_database->query(s.sql, bound);
        if (result.rows)
            out.rowSet(*result.rows);
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
            out.rowSet(*result.rows);
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
    const RpcRequest request = parseRpc(message.payload);
    for (const RpcCall &call : request.calls) {
        if (m_cancelled)
            break; // the client cancelled the request: its other calls do not run
        rpcCall(call, out);
    }
}

void Session::rpcCall(const RpcCall &call, TokenWriter &out) {
    const std::string name = lowerAscii(call.name);
    bool ok = true;
    std::optional<std::int32_t> handle;
    try {
        if (call.number == procid::kExecuteSql || name == "sp_executesql") {
            const std::string text = textParam(call.params, 0, "statement");
            const bool declared = call.params.size() > 1;
            const std::vector<std::string> names =
                declared ? declaredParameters(textParam(call.params, 1, "parameter list"))
                         : std::vector<std::string>{};
            say("sp_executesql: " + shortened(text));
            ok = runText(text, names, valuesFrom(call.params, 2), true, out);
        } else if (call.number == procid::kPrepExec || call.number == procid::kPrepare ||
                   name == "sp_prepexec" || name == "sp_prepare") {
            Prepared prepared{
                textParam(call.params, 2, "statement"),
                call.params[1].value == DbValue()
                    ? std::vector<std::string>{}
                    : declaredParameters(textParam(call.params, 1, "parameter list"))};
            handle = m_nextHandle++;
            say("prepare " + std::to_string(*handle) + ": " + shortened(prepared.text));
            m_prepared[*handle] = prepared;
            if (call.number == procid::kPrepExec || name == "sp_prepexec")
                ok = runText(prepared.text, prepared.parameters, valuesFrom(call.params, 3), true,
                             out);
        } else if (call.number == procid::kExecute || name == "sp_execute") {
            const auto *number =
                call.params.empty() ? nullptr : std::get_if<std::int64_t>(&call.params[0].value);
            auto found =
                number ? m_prepared.find(static_cast<std::int32_t>(*number)) : m_prepared.end();
            if (found == m_prepared.end())
                throw TsqlError(8179, "Could not find prepared statement with handle " +
                                          (number ? std::to_string(*number) : "NULL") + ".");
            say("execute " + std::to_string(found->first));
            ok = runText(found->second.text, found->second.parameters, valuesFrom(call.params, 1),
                         true, out);
        } else if (call.number == procid::kUnprepare || name == "sp_unprepare") {
            if (!call.params.empty())
                if (auto number = std::get_if<std::int64_t>(&call.params[0].value))
                    m_prepared.erase(static_cast<std::int32_t>(*number));
        } else if (call.number != 0) {
            throw TsqlError(2812, "Could not find stored procedure number " +
                                      std::to_string(call.number) + ".");
        } else {
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
                result = m_database->callByPosition(call.name, valuesFrom(call.params, 0));
                if (!result)
                    throw TsqlError(tsqlerr::kUnsupported,
                                    "Procedure arguments are taken by name only (@Name = value).");
            }
            if (result->rows) {
                out.rowSet(*result->rows);
                out.doneToken(token::kDoneInProc, done::kMore | done::kCount, kCommandSelect,
                              static_cast<std::uint64_t>(result->count));
            }
            out.returnStatus(result->returnStatus);
            out.doneToken(token::kDoneProc, done::kFinal, kCommandExecute, 0);
            return;
        }
    } catch (...) {
        writeFailure(failureOf(std::current_exception()), out);
        ok = false;
    }
    out.returnStatus(ok ? 0 : -6);
    if (handle)
        out.returnInt(0, call.params[0].name, *handle);
    out.doneToken(token::kDoneProc, ok ? done::kFinal : done::kError, kCommandExecute, 0);
}

void Session::transactionRequest(const Message &message, TokenWriter &out) {
    const TransactionRequest request = parseTransactionRequest(message.payload);
    try {
        switch (request.kind) {
        case TransactionRequestKind::Begin:
            say("begin transaction");
            if (!m_database->inTransaction()) {
                m_database->begin();
                out.envTransaction(kEnvBegin, ++m_transactionId);
            }
            break;
        case TransactionRequestKind::Commit:
        case TransactionRequestKind::Rollback:
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
