#pragma once
// cpp-httplib's server with our own connection loop. The loop reads each request line
// first and mends raw blanks in it (see mendRequestLine), then hands the request to
// httplib; everything else — headers, routing, responses — is httplib's.
#include <httplib.h>

namespace lobby {

class HttpServer : public httplib::Server {
public:
    // Closes a socket that was bound but never served.
    void closeUnusedSocket();

private:
    bool process_and_close_socket(socket_t sock) override;
    bool stopping() const { return svr_sock_ == INVALID_SOCKET; }
};

// Only its socket options: reuse of a port in TIME_WAIT, but never two servers on one port
// (httplib's own default also sets SO_REUSEPORT), and IPv4 clients on an IPv6 socket.
void lobbySocketOptions(socket_t sock);

}  // namespace lobby
