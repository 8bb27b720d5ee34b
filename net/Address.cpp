#include "net/Address.h"
#include <cstdio>

namespace {

// A decimal number of at most `digits` digits, no sign, up to max.
bool ParseSmall(const std::string& text, size_t digits, uint32_t max, uint32_t& value)
{
    if (text.empty() || text.size() > digits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value <= max;
}

}  // namespace

bool ParseIpv4(const std::string& text, uint32_t& address)
{
    address = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        uint32_t value = 0;
        if (end == std::string::npos || !ParseSmall(text.substr(start, end - start), 3, 255, value))
            return false;
        address = address << 8 | value;
        start = end + 1;
    }
    return true;
}

bool ParseEndpoint(const std::string& text, Endpoint& endpoint, std::string& error)
{
    size_t colon = text.rfind(':');
    uint32_t port = 0;
    if (colon == std::string::npos || !ParseIpv4(text.substr(0, colon), endpoint.address) ||
        !ParseSmall(text.substr(colon + 1), 5, 65535, port)) {
        error = "--listen takes an IPv4 ADDR:PORT such as 127.0.0.1:5025, not '" + text + "'";
        return false;
    }
    endpoint.port = static_cast<uint16_t>(port);
    return true;
}

std::string FormatIpv4(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF,
                  address >> 8 & 0xFF, address & 0xFF);
    return text;
}

std::string FormatEndpoint(const Endpoint& endpoint)
{
    return FormatIpv4(endpoint.address) + ":" + std::to_string(endpoint.port);
}

bool AllowList::Parse(const std::string& text, std::string& error)
{
    networks.clear();
    if (text.empty())
        return true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t slash = item.find('/');
        uint32_t address = 0;
        uint32_t bits = 32;
        if (!ParseIpv4(item.substr(0, slash), address) ||
            (slash != std::string::npos && !ParseSmall(item.substr(slash + 1), 2, 32, bits))) {
            error = "--allow takes IPv4 ADDR[/BITS],... such as 192.168.1.0/24, not '" + item + "'";
            networks.clear();
            return false;
        }
        const uint32_t mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
        networks.push_back({address & mask, mask});
        start = end + 1;
    }
    return true;
}

bool AllowList::Allows(uint32_t address) const
{
    if (networks.empty())
        return true;
    for (const Network& network : networks) {
        if ((address & network.mask) == network.address)
            return true;
    }
    return false;
}
