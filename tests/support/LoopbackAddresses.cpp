#include "tests/support/LoopbackAddresses.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace sc_test {

std::string ClosedPortUrl()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("ClosedPortUrl: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    close(fd);
    if (!bound)
        throw std::runtime_error("ClosedPortUrl: cannot bind a loopback port");
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

} // namespace sc_test
