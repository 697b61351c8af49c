// What kind of address an admin wrote in config.json's "ip": the checker warns of any that players
// elsewhere cannot reach.
#pragma once

#include <string_view>

namespace vesperline::check {

// What an address in config.json's "ip" is.
enum class AddressKind {
  kPublic,        // an IPv4 or IPv6 address players can reach from anywhere, as far as it shows
  kNotAnAddress,  // no IPv4 or IPv6 address (a host name, a typing error, blanks around it)
  kWithPort,      // an address with a port behind it ("203.0.113.7:7777", "[2001:db8::1]:7777")
  kPrivate,       // a private network's (10/8, 172.16/12, 192.168/16, 100.64/10, fc00::/7)
  kLoopback,      // the machine's own (127/8, ::1)
  kLinkLocal,     // one link's only (169.254/16, fe80::/10)
  kUnspecified,   // no address at all (0.0.0.0/8, ::)
  kExample,  // reserved for documentation (192.0.2/24, 198.51.100/24, 203.0.113/24, 2001:db8::/32)
};

AddressKind ClassifyAddress(std::string_view text);

}  // namespace vesperline::check
