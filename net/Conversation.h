// One client's lines on their way through its session: cut from the bytes it sends, kept
// until their turn, executed one at a time, and traced. Every door keeps one per client.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include "net/LineSession.h"
#include "net/LineSplitter.h"
#include "net/ServerLog.h"

constexpr size_t MAX_LINE = 4096;  // longer lines are dropped with an error

class Conversation {
public:
    Conversation(ClientInfo who, std::unique_ptr<LineSession> session, ServerLog& log);

    // Takes received bytes; returns how many complete lines they added.
    size_t Feed(const char* data, size_t size);
    // Complete lines not yet executed.
    size_t Waiting() const { return waiting; }
    // Bytes held: lines waiting and the line in progress.
    size_t Held() const { return lines.Held(); }

    // Executes the oldest waiting line (there must be one). Returns its reply, or "".
    std::string ExecuteNext();

    // Device clear: the lines waiting and the one in progress are dropped.
    void Clear();

    const ClientInfo& Who() const { return who; }
    LineSession& Session() { return *session; }

private:
    ClientInfo who;
    std::unique_ptr<LineSession> session;
    ServerLog& log;
    LineSplitter lines{MAX_LINE};
    size_t waiting = 0;
};
