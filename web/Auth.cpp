#include "web/Auth.h"
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

bool SameSecret(const std::string& attempt, const std::string& secret)
{
    if (secret.empty())
        return false;
    unsigned difference = attempt.size() == secret.size() ? 0 : 1;
    for (size_t i = 0; i < attempt.size(); ++i)
        difference |= static_cast<unsigned char>(attempt[i] ^ secret[i % secret.size()]);
    return difference == 0;
}

bool LoadPassword(const std::string& file, const char* environment, std::string& password,
                  std::string& error)
{
    password.clear();
    if (file.empty()) {
        if (environment)
            password = environment;
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the password file " + file;
        return false;
    }
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty()) {
        error = "the password file " + file + " holds no password on its first line";
        return false;
    }
    return true;
}

int64_t LoginThrottle::WaitMs(const std::string& address)
{
    auto it = records.find(address);
    if (it == records.end())
        return 0;
    return std::max<int64_t>(0, it->second.allowedAtMs - clock.NowMs());
}

void LoginThrottle::Failed(const std::string& address)
{
    const int64_t now = clock.NowMs();
    if (records.count(address) == 0)
        MakeRoom(now);
    Record& record = records[address];
    if (now - record.lastMs > FORGET_MS)
        record = Record();
    record.lastMs = now;
    if (++record.failures <= FREE_TRIES)
        return;
    const int doublings = std::min(record.failures - FREE_TRIES - 1, 20);
    record.allowedAtMs = now + std::min(FIRST_WAIT_MS << doublings, MAX_WAIT_MS);
}

void LoginThrottle::MakeRoom(int64_t now)
{
    for (auto it = records.begin(); it != records.end();)
        it = now - it->second.lastMs > FORGET_MS ? records.erase(it) : std::next(it);
    if (records.size() < MAX_ADDRESSES)
        return;
    records.erase(std::min_element(records.begin(), records.end(), [](auto& a, auto& b) {
        return a.second.lastMs < b.second.lastMs;
    }));
}

Auth::Auth(Clock& clock, std::string password, RandomSource random)
    : clock(clock), password(std::move(password)), random(std::move(random)), throttle(clock)
{}

Auth::Login Auth::TryLogin(const std::string& address, const std::string& attempt)
{
    if (!ControlAllowed())
        return {Outcome::NoControl, "", 0};
    if (int64_t wait = throttle.WaitMs(address))
        return {Outcome::Throttled, "", wait};
    if (!SameSecret(attempt, password)) {
        throttle.Failed(address);
        return {Outcome::Wrong, "", throttle.WaitMs(address)};
    }
    uint8_t bytes[TOKEN_BYTES];
    if (!random(bytes, sizeof bytes))
        return {Outcome::Failed, "", 0};
    throttle.Succeeded(address);
    std::string token;
    for (uint8_t byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        token += hex;
    }
    const int64_t now = clock.NowMs();
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [&](const Session& s) { return now - s.lastUsedMs > IDLE_MS; }),
                   sessions.end());
    if (sessions.size() >= MAX_SESSIONS) {
        sessions.erase(std::min_element(sessions.begin(), sessions.end(), [](auto& a, auto& b) {
            return a.lastUsedMs < b.lastUsedMs;
        }));
    }
    sessions.push_back({token, now});
    return {Outcome::Opened, token, 0};
}

std::vector<Auth::Session>::iterator Auth::Find(const std::string& token)
{
    auto found = sessions.end();
    for (auto it = sessions.begin(); it != sessions.end(); ++it) {
        if (SameSecret(token, it->token))
            found = it;
    }
    return found;
}

bool Auth::Valid(const std::string& token)
{
    auto it = Find(token);
    if (it == sessions.end())
        return false;
    const int64_t now = clock.NowMs();
    if (now - it->lastUsedMs > IDLE_MS) {
        sessions.erase(it);
        return false;
    }
    it->lastUsedMs = now;
    return true;
}

void Auth::Logout(const std::string& token)
{
    auto it = Find(token);
    if (it != sessions.end())
        sessions.erase(it);
}
