// `zephrane-sim serve` on Windows: the listener is built on POSIX sockets and has no Winsock
// form yet, so the command says so instead of failing obscurely.
#include "sim/TdsListener.h"

namespace zeph::sim {

Status serveTds(const tds::ServeSettings &, int, const std::function<void(int port)> &) {
    return fail("serving the stand-in over TDS is not built for Windows yet; run zephrane-sim "
                "serve on Linux");
}

} // namespace zeph::sim
