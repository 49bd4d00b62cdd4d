#pragma once

#include <string>

namespace sc_test {

// "http://127.0.0.1:<port>" where nothing listens: the port was bound and closed again, so a
// connection is refused at once.
std::string ClosedPortUrl();

} // namespace sc_test
