// The "SQL Server" ODBC driver of the machine-path tests under Wine, where the program's own
// connection text, "Driver={SQL Server};server=;database=TarvoDb", goes through Wine's ODBC to
// the Linux driver manager. It is FreeTDS's driver with the two things the machine's own driver
// does and FreeTDS does not: an empty or missing server names the machine's local default
// instance, and a connection that names no login uses the account that runs the program. Here
// the local instance is the address in ZEPH_LOCAL_SERVER ("host,port", a `zephrane-sim serve`)
// and the account's login is ZEPH_LOCAL_LOGIN with ZEPH_LOCAL_PASSWORD. A text that names its
// server or login goes to FreeTDS as it is.
//
// Only the two connect calls are this library's own: every other entry point is FreeTDS's (the
// driver that ZEPH_FREETDS_DRIVER names when this is built), which this library depends on and
// the driver manager finds through it.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <dlfcn.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

template <typename Char> std::basic_string<Char> widen(const char *text) {
    std::basic_string<Char> out;
    for (const char *p = text; p && *p; ++p)
        out += static_cast<Char>(static_cast<unsigned char>(*p));
    return out;
}

template <typename Char> bool sameWord(const std::basic_string<Char> &key, const char *word) {
    std::size_t i = 0;
    for (; word[i]; ++i) {
        if (i >= key.size())
            return false;
        Char c = key[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<Char>(c - 'A' + 'a');
        if (c != static_cast<Char>(word[i]))
            return false;
    }
    return i == key.size();
}

template <typename Char> struct Pair {
    std::basic_string<Char> key;
    std::basic_string<Char> value; // as written, braces included
};

// The pairs of a connection text; a value in braces may hold semicolons.
template <typename Char> std::vector<Pair<Char>> pairsOf(const std::basic_string<Char> &text) {
    std::vector<Pair<Char>> pairs;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t equals = text.find(static_cast<Char>('='), at);
        if (equals == std::basic_string<Char>::npos)
            break;
        Pair<Char> pair;
        pair.key = text.substr(at, equals - at);
        while (!pair.key.empty() && pair.key.front() == static_cast<Char>(' '))
            pair.key.erase(0, 1);
        std::size_t end = equals + 1;
        if (end < text.size() && text[end] == static_cast<Char>('{')) {
            std::size_t close = text.find(static_cast<Char>('}'), end);
            end = close == std::basic_string<Char>::npos ? text.size() : close + 1;
        }
        end = text.find(static_cast<Char>(';'), end);
        if (end == std::basic_string<Char>::npos)
            end = text.size();
        pair.value = text.substr(equals + 1, end - equals - 1);
        if (!pair.key.empty())
            pairs.push_back(std::move(pair));
        at = end + 1;
    }
    return pairs;
}

// The text with the local instance and the account's login filled in where it names none.
template <typename Char> std::basic_string<Char> completed(const std::basic_string<Char> &text) {
    const char *server = std::getenv("ZEPH_LOCAL_SERVER");
    const char *login = std::getenv("ZEPH_LOCAL_LOGIN");
    const char *password = std::getenv("ZEPH_LOCAL_PASSWORD");
    std::vector<Pair<Char>> pairs = pairsOf(text);
    bool hasServer = false;
    bool hasLogin = false;
    for (Pair<Char> &pair : pairs) {
        if (sameWord(pair.key, "server")) {
            if (pair.value.empty() && server)
                pair.value = widen<Char>(server);
            hasServer = true;
        } else if (sameWord(pair.key, "uid") || sameWord(pair.key, "trusted_connection")) {
            hasLogin = hasLogin || !pair.value.empty();
        }
    }
    if (!hasServer && server)
        pairs.push_back({widen<Char>("Server"), widen<Char>(server)});
    if (!hasLogin && login) {
        pairs.push_back({widen<Char>("UID"), widen<Char>(login)});
        pairs.push_back({widen<Char>("PWD"), widen<Char>(password ? password : "")});
    }
    std::basic_string<Char> out;
    for (const Pair<Char> &pair : pairs)
        out += pair.key + static_cast<Char>('=') + pair.value + static_cast<Char>(';');
    return out;
}

template <typename Char> std::basic_string<Char> textOf(const Char *text, SQLSMALLINT length) {
    if (!text)
        return {};
    if (length != SQL_NTS)
        return std::basic_string<Char>(text, static_cast<std::size_t>(length));
    std::size_t n = 0;
    while (text[n])
        ++n;
    return std::basic_string<Char>(text, n);
}

void *freetds(const char *name) {
    static void *library = dlopen(ZEPH_FREETDS_DRIVER, RTLD_NOW | RTLD_LOCAL);
    return library ? dlsym(library, name) : nullptr;
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC connection, SQLHWND window, SQLWCHAR *in,
                                    SQLSMALLINT inLength, SQLWCHAR *out, SQLSMALLINT outMax,
                                    SQLSMALLINT *outLength, SQLUSMALLINT completion) {
    using Connect = SQLRETURN(SQL_API *)(SQLHDBC, SQLHWND, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *, SQLUSMALLINT);
    auto connect = reinterpret_cast<Connect>(freetds("SQLDriverConnectW"));
    if (!connect)
        return SQL_ERROR;
    std::basic_string<SQLWCHAR> text = completed(textOf(in, inLength));
    return connect(connection, window, text.data(), static_cast<SQLSMALLINT>(text.size()), out,
                   outMax, outLength, completion);
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC connection, SQLHWND window, SQLCHAR *in,
                                   SQLSMALLINT inLength, SQLCHAR *out, SQLSMALLINT outMax,
                                   SQLSMALLINT *outLength, SQLUSMALLINT completion) {
    using Connect = SQLRETURN(SQL_API *)(SQLHDBC, SQLHWND, SQLCHAR *, SQLSMALLINT, SQLCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *, SQLUSMALLINT);
    auto connect = reinterpret_cast<Connect>(freetds("SQLDriverConnect"));
    if (!connect)
        return SQL_ERROR;
    std::basic_string<SQLCHAR> text = completed(textOf(in, inLength));
    return connect(connection, window, text.data(), static_cast<SQLSMALLINT>(text.size()), out,
                   outMax, outLength, completion);
}

} // extern "C"
