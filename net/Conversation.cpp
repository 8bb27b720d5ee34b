#include "net/Conversation.h"
#include "protocol/ValueFormat.h"

Conversation::Conversation(ClientInfo who, std::unique_ptr<LineSession> session, ServerLog& log)
    : who(std::move(who)), session(std::move(session)), log(log)
{}

size_t Conversation::Feed(const char* data, size_t size)
{
    const size_t added = lines.Feed(data, size);
    waiting += added;
    return added;
}

std::string Conversation::ExecuteNext()
{
    std::string line;
    bool tooLong = false;
    lines.Next(line, tooLong);
    waiting -= 1;
    if (tooLong) {
        if (log.Tracing())
            log.Trace(who.name + " < a line of more than " + std::to_string(MAX_LINE) +
                      " bytes, dropped");
        session->LineTooLong();
        return "";
    }
    if (log.Tracing())
        log.Trace(who.name + " < " + Printable(line));
    std::string reply = session->Execute(line);
    if (!reply.empty() && log.Tracing())
        log.Trace(who.name + " > " + Printable(reply.substr(0, reply.size() - 1)));
    return reply;
}

void Conversation::Clear()
{
    lines = LineSplitter(MAX_LINE);
    waiting = 0;
    session->Clear();
}
