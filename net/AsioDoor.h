// What the doors' Asio code shares: addresses from Asio's, a listening socket opened the same
// way for every door, and what a connection has to send. Included only by the doors' .cpp
// files, which pay for Asio already.
#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <string>
#include "net/Address.h"

template <typename AsioEndpoint>
Endpoint FromAsio(const AsioEndpoint& endpoint)
{
    return {endpoint.address().to_v4().to_uint(), endpoint.port()};
}

// Opens, binds and listens; bound is the address it really has (port 0 gets one). On failure
// the acceptor is closed and code says why. The backlog is the system's largest: a burst of
// clients beyond a small one would wait for their connect to be tried again.
inline bool OpenListener(boost::asio::ip::tcp::acceptor& acceptor, const Endpoint& at,
                         Endpoint& bound, boost::system::error_code& code)
{
    using boost::asio::ip::tcp;
    const tcp::endpoint endpoint(boost::asio::ip::address_v4(at.address), at.port);
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
        acceptor.listen(boost::asio::socket_base::max_listen_connections, code);
    tcp::endpoint local;
    if (!code)
        local = acceptor.local_endpoint(code);
    if (code) {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    bound = FromAsio(local);
    return true;
}

// Hands each connection of a listening acceptor to admit, until the acceptor is closed. An
// accept that fails (no descriptor left, say) is tried again after a pause on retry: tried at
// once, it would fail again at once, and the loop would spin.
template <typename Admit>
void AcceptEach(boost::asio::ip::tcp::acceptor& acceptor, boost::asio::steady_timer& retry,
                Admit admit)
{
    acceptor.async_accept([&acceptor, &retry, admit](const boost::system::error_code& error,
                                                     boost::asio::ip::tcp::socket socket) {
        if (error == boost::asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (!error) {
            admit(std::move(socket));
            return AcceptEach(acceptor, retry, admit);
        }
        retry.expires_after(std::chrono::milliseconds(100));
        retry.async_wait([&acceptor, &retry, admit](const boost::system::error_code& cancelled) {
            if (!cancelled)
                AcceptEach(acceptor, retry, admit);
        });
    });
}

// Opens a listener at the address and hands each connection to admit from then on; false,
// with the reason, when the address cannot be had.
template <typename Admit>
bool ListenAndAccept(boost::asio::ip::tcp::acceptor& acceptor, boost::asio::steady_timer& retry,
                     const Endpoint& at, Endpoint& bound, std::string& error, Admit admit)
{
    boost::system::error_code code;
    if (!OpenListener(acceptor, at, bound, code)) {
        error = code.message();
        return false;
    }
    AcceptEach(acceptor, retry, admit);
    return true;
}

// What a connection sends: one write under way at a time, what comes meanwhile queued behind.
class Outbox {
public:
    // Adds bytes; true when a write is to start (none was under way).
    bool Add(const std::string& data)
    {
        queued += data;
        if (!sending.empty())
            return false;
        sending.swap(queued);
        return true;
    }
    // A write took size bytes; true when another is to start.
    bool Sent(size_t size)
    {
        sending.erase(0, size);
        sending += queued;
        queued.clear();
        return !sending.empty();
    }
    const std::string& Sending() const { return sending; }
    size_t Held() const { return sending.size() + queued.size(); }
    bool Empty() const { return sending.empty(); }

private:
    std::string sending;  // under way
    std::string queued;   // come while sending
};
