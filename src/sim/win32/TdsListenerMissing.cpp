// `zephrane-sim serve` on Windows: the listener is built on POSIX sockets and has no Winsock
// form yet, so the command says so instead of failing obscurely.
#include "sim/TdsListener.h"

namespace zeph::sim {

bool serveTds(const tds::ServeSettings &, int, const std::function<void(int port)> &,
              std::string &error) {
    error = "serving the stand-in over TDS is not built for Windows yet; run zephrane-sim serve "
            "on Linux";
    return false;
}

} // namespace zeph::sim
