#include "net/Loop.h"
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <csignal>

struct Loop::Impl {
    boost::asio::io_context io{1};  // one thread: no locking inside
    boost::asio::signal_set signals{io, SIGINT};
};

Loop::Loop() : impl(std::make_unique<Impl>())
{
#ifndef _WIN32
    impl->signals.add(SIGTERM);
#endif
}

Loop::~Loop() = default;

boost::asio::io_context& Loop::Context()
{
    return impl->io;
}

void Loop::Run(const std::function<void(const std::string& why)>& stop)
{
    impl->signals.async_wait([&stop](const boost::system::error_code& error, int signal) {
        if (!error)
            stop(signal == SIGINT ? "Ctrl-C" : "SIGTERM");
    });
    impl->io.run();
}
