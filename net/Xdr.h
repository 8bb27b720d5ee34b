// XDR, the byte order of ONC RPC: big-endian 32-bit units, variable-length data with its
// length first and padded to four bytes. The reader never reads past its buffer: a read that
// would fails, and every read after it fails too, so a decoder checks once at the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class XdrWriter {
public:
    void U32(uint32_t value);
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }
    void Bool(bool value) { U32(value ? 1 : 0); }
    void Opaque(const std::string& data);  // opaque<> and string<>: length, bytes, padding
    void Fixed(const std::string& data);   // opaque[n]: bytes, padding

    const std::string& Bytes() const { return bytes; }

private:
    std::string bytes;
};

class XdrReader {
public:
    XdrReader(const char* data, size_t size) : data(data), left(size) {}
    explicit XdrReader(const std::string& data) : XdrReader(data.data(), data.size()) {}
    explicit XdrReader(std::string&&) = delete;  // it reads the bytes where they lie

    bool U32(uint32_t& value);
    bool I32(int32_t& value);
    bool Bool(bool& value);  // 0 or 1, nothing else
    // Variable-length data of at most max bytes.
    bool Opaque(std::string& value, size_t max);
    bool Fixed(std::string& value, size_t size);
    bool Skip(size_t size);  // fixed bytes and their padding

    bool Ok() const { return ok; }
    size_t Left() const { return left; }
    // The bytes not yet read, for a part decoded later.
    std::string Rest() const { return std::string(data, left); }

private:
    bool Fail() { return ok = false; }

    const char* data;
    size_t left;
    bool ok = true;
};
