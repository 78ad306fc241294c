#pragma once
// IPv4 socket addresses, for the socket code of both halves and the test peers. The includer's
// build names its OS's half folder, where socket_api.h lives.
#include <cstdint>
#include <string>

#include "socket_api.h"

// The host's first IPv4 address (numeric or resolved) with the port.
bool ResolveIpv4(const std::string& host, int port, sockaddr_in& remote);

// The dotted-quad address with the port; anything else means the fallback (host names are never
// resolved for a local address).
sockaddr_in LocalIpv4(const std::string& address, int port, std::uint32_t fallback);
