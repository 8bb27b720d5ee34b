// IPv4 addresses as the serve command takes them: where it listens, and whom it lets in.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Endpoint {
    uint32_t address = 0;  // host order: 127.0.0.1 is 0x7F000001
    uint16_t port = 0;
};

// "127.0.0.1" exactly: four decimal parts 0-255, nothing else.
bool ParseIpv4(const std::string& text, uint32_t& address);

// "ADDR:PORT" with PORT 0-65535 (0: any free port).
bool ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& error);

std::string FormatIpv4(uint32_t address);
std::string FormatEndpoint(const Endpoint& endpoint);

// Networks clients may connect from. Empty: every address.
class AllowList {
public:
    // "ADDR[/BITS],..." with BITS 0-32 (default 32); host bits beyond BITS are ignored.
    bool Parse(const std::string& text, std::string& error);
    bool Allows(uint32_t address) const;

private:
    struct Network {
        uint32_t address;
        uint32_t mask;
    };
    std::vector<Network> networks;
};
