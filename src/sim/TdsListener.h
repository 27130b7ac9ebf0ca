#pragma once
// `zephrane-sim serve`: the stand-in server over TDS on a local TCP port, one thread per
// client connection.

#include "platform/Result.h"
#include "standin/tds/TdsSession.h"

#include <functional>
#include <string>

namespace zeph::sim {

/// Listens on 127.0.0.1:`port` (0: any free port) and serves clients until the process ends.
/// `listening` is told the port once clients can connect. Returns only when listening fails,
/// saying why.
Status serveTds(const tds::ServeSettings &settings, int port,
                const std::function<void(int port)> &listening);

} // namespace zeph::sim
