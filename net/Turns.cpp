#include "net/Turns.h"
#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <deque>

struct Turns::Impl {
    boost::asio::io_context& io;
    std::function<int64_t()> upkeep;
    boost::asio::steady_timer timer{io};
    std::deque<std::shared_ptr<TurnTaker>> line;  // the longest waiting first
    bool posted = false;
    bool stopped = false;

    Impl(boost::asio::io_context& io, std::function<int64_t()> upkeep)
        : io(io), upkeep(std::move(upkeep))
    {}

    void Upkeep()
    {
        const int64_t ms = upkeep();
        if (ms < 0) {
            timer.cancel();
            return;
        }
        timer.expires_after(std::chrono::milliseconds(ms));
        timer.async_wait([this](const boost::system::error_code& error) {
            if (!error && !stopped)
                Upkeep();
        });
    }

    void Post()
    {
        if (posted || line.empty() || stopped)
            return;
        posted = true;
        boost::asio::post(io, [this] { Next(); });
    }

    void Next()
    {
        posted = false;
        if (line.empty() || stopped)
            return;
        std::shared_ptr<TurnTaker> taker = std::move(line.front());
        line.pop_front();
        if (taker->TakeTurn())
            line.push_back(std::move(taker));
        if (!stopped)
            Upkeep();
        Post();
    }
};

Turns::Turns(boost::asio::io_context& io, std::function<int64_t()> upkeep)
    : impl(std::make_unique<Impl>(io, std::move(upkeep)))
{
    boost::asio::post(io, [this] {
        if (!impl->stopped)
            impl->Upkeep();
    });
}

Turns::~Turns() = default;

void Turns::Want(std::shared_ptr<TurnTaker> taker)
{
    impl->line.push_back(std::move(taker));
    impl->Post();
}

void Turns::Forget(const TurnTaker& taker)
{
    auto& line = impl->line;
    line.erase(std::remove_if(line.begin(), line.end(),
                              [&taker](const auto& waiting) { return waiting.get() == &taker; }),
               line.end());
}

void Turns::Stop()
{
    impl->stopped = true;
    impl->line.clear();
    impl->timer.cancel();
}
