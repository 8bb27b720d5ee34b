// Who may drive the laser from a browser: one password, sessions held in a cookie, and wrong
// passwords slowed down per client address.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include "link/Port.h"

// Fills size bytes from a cryptographic source; false when it cannot.
using RandomSource = std::function<bool(uint8_t* out, size_t size)>;

// Whether attempt equals secret, in a time that depends on the attempt's length only.
bool SameSecret(const std::string& attempt, const std::string& secret);

// The password of --web-password-file, else of the environment's ZORVANE_WEB_PASSWORD; ""
// when neither is given. A file's line ends are not part of it. False with a reason when
// the file cannot be read or holds no password.
bool LoadPassword(const std::string& file, const char* environment, std::string& password,
                  std::string& error);

// Wrong passwords per address: the first few are free, then each try waits twice as long as
// the one before, up to five minutes. A right password clears the address.
class LoginThrottle {
public:
    explicit LoginThrottle(Clock& clock) : clock(clock) {}

    // 0 when the address may try now, else how many ms it must wait.
    int64_t WaitMs(const std::string& address);
    void Failed(const std::string& address);
    void Succeeded(const std::string& address) { records.erase(address); }

    static constexpr int FREE_TRIES = 3;
    static constexpr int64_t FIRST_WAIT_MS = 1000;
    static constexpr int64_t MAX_WAIT_MS = 5 * 60 * 1000;
    static constexpr int64_t FORGET_MS = 60 * 60 * 1000;  // an address quiet this long starts over
    static constexpr size_t MAX_ADDRESSES = 256;          // beyond: the longest quiet is forgotten

private:
    struct Record {
        int failures = 0;
        int64_t lastMs = 0;
        int64_t allowedAtMs = 0;
    };
    void MakeRoom(int64_t now);

    Clock& clock;
    std::map<std::string, Record> records;
};

class Auth {
public:
    // password "": nobody may drive the laser from a browser.
    Auth(Clock& clock, std::string password, RandomSource random);

    bool ControlAllowed() const { return !password.empty(); }

    enum class Outcome { Opened, Wrong, Throttled, NoControl, Failed };
    struct Login {
        Outcome outcome;
        std::string token;         // Opened: the session's cookie value
        int64_t retryAfterMs = 0;  // Wrong, Throttled: the wait before the next try
    };
    Login TryLogin(const std::string& address, const std::string& attempt);

    // Whether token names an open session; a use, so its idle time starts again.
    bool Valid(const std::string& token);
    void Logout(const std::string& token);

    static constexpr int64_t IDLE_MS = int64_t{12} * 60 * 60 * 1000;
    static constexpr size_t MAX_SESSIONS = 32;  // beyond: the least recently used is closed
    static constexpr size_t TOKEN_BYTES = 32;

private:
    struct Session {
        std::string token;
        int64_t lastUsedMs;
    };
    // The open session of token, looked up in a time that does not depend on the sessions'.
    std::vector<Session>::iterator Find(const std::string& token);

    Clock& clock;
    std::string password;
    RandomSource random;
    LoginThrottle throttle;
    std::vector<Session> sessions;
};
