// The server's one event loop: one io_context on the thread that runs it, owning the module's
// turns and every connection of every door, and ended by Ctrl-C (SIGINT; SIGTERM too on
// POSIX; on Windows the C runtime turns the console's Ctrl-C into SIGINT).
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

class Loop {
public:
    // Ctrl-C is caught from here on: one pressed before Run ends Run at once.
    Loop();
    ~Loop();

    boost::asio::io_context& Context();

    // Runs until Ctrl-C, then calls stop with what ended it ("Ctrl-C"); stop closes every
    // door and the turns. Returns once nothing is left to run.
    void Run(const std::function<void(const std::string& why)>& stop);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
