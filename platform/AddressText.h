#pragma once
// Inside platform/ only: the text of an address the system reports (shared by the Linux and the
// Windows network facts; defined in NetworkCommon.cpp).

#include <string>

#include "platform/Socket.h"

namespace kbr::platform {

// "10.0.0.7" or "2001:db8::5"; an IPv6 link-local address with "%" and its zone after it
// ("fe80::1%eth0"). Windows: the system's sockets are started.
std::string AddressText(const sockaddr* address, const std::string& zone);

}  // namespace kbr::platform
