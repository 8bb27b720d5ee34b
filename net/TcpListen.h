// What the doors share about TCP: their listener's options and the addresses they see.
// Asio inside: include it only from a door's .cpp.
#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <string>
#include "net/Address.h"

inline Endpoint FromAsio(const boost::asio::ip::tcp::endpoint& endpoint)
{
    return {endpoint.address().to_v4().to_uint(), endpoint.port()};
}

// Opens, binds and listens with room for backlog connections not yet accepted; bound is the
// address it really has (port 0 gets one). On failure the acceptor is closed again and error
// says why.
inline bool ListenOn(boost::asio::ip::tcp::acceptor& acceptor, const Endpoint& at, int backlog,
                     Endpoint& bound, std::string& error)
{
    using boost::asio::ip::tcp;
    const tcp::endpoint endpoint(boost::asio::ip::address_v4(at.address), at.port);
    boost::system::error_code code;
    acceptor.open(endpoint.protocol(), code);
#ifdef _WIN32
    // No other program may take the port over while we listen.
    using ExclusiveAddress =
        boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    if (!code)
        acceptor.set_option(ExclusiveAddress(true), code);
#else
    if (!code)
        acceptor.set_option(tcp::acceptor::reuse_address(true), code);  // a restart finds it free
#endif
    if (!code)
        acceptor.bind(endpoint, code);
    if (!code)
        acceptor.listen(backlog, code);
    tcp::endpoint local;
    if (!code)
        local = acceptor.local_endpoint(code);
    if (code) {
        error = code.message();
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    bound = FromAsio(local);
    return true;
}
