// The module's time on the event loop, shared by every door: clients with lines waiting
// take turns, one line each, the longest waiting first, and the instrument's upkeep runs on
// a timer and after every turn. Each turn is posted to the loop on its own, so accepts,
// reads, writes and timers go on between two executions; the loop is never held longer
// than one line's execution.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

namespace boost::asio {
class io_context;
}

class TurnTaker {
public:
    virtual ~TurnTaker() = default;
    // Executes one waiting line. Returns true when more lines wait.
    virtual bool TakeTurn() = 0;
};

class Turns {
public:
    // upkeep: called once the loop runs, again when the ms it returns have passed (-1:
    // not until the next turn), and after every turn (a command may have found the port gone).
    Turns(boost::asio::io_context& io, std::function<int64_t()> upkeep);
    ~Turns();

    // The taker has lines waiting and is not in line yet: it joins at the end. Its turns
    // go on while TakeTurn returns true.
    void Want(std::shared_ptr<TurnTaker> taker);
    // Out of line, for a taker that goes away.
    void Forget(const TurnTaker& taker);
    // No more turns or upkeep.
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
