// One heartbeat of the plugin, end to end.
#pragma once

#include <string>

namespace vesperline {

// Looks for the version while it is unknown, then, when the profile identifies the server (a
// token, an address and a port of at least 1), reads the live world and posts the document to the
// profile's endpoint. Errors of the host's request service pass to the caller.
void SendHeartbeat(const std::string& status);

}  // namespace vesperline
