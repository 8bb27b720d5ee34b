#include "net/Xdr.h"

namespace {

size_t Padded(size_t size)
{
    return (size + 3) & ~size_t{3};
}

}  // namespace

void XdrWriter::U32(uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
}

void XdrWriter::Opaque(const std::string& data)
{
    U32(static_cast<uint32_t>(data.size()));
    Fixed(data);
}

void XdrWriter::Fixed(const std::string& data)
{
    bytes += data;
    bytes.append(Padded(data.size()) - data.size(), '\0');
}

bool XdrReader::U32(uint32_t& value)
{
    if (!ok || left < 4)
        return Fail();
    value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(data[i]);
    data += 4;
    left -= 4;
    return true;
}

bool XdrReader::I32(int32_t& value)
{
    uint32_t raw = 0;
    if (!U32(raw))
        return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool XdrReader::Bool(bool& value)
{
    uint32_t raw = 0;
    if (!U32(raw) || raw > 1)
        return Fail();
    value = raw == 1;
    return true;
}

bool XdrReader::Opaque(std::string& value, size_t max)
{
    uint32_t size = 0;
    if (!U32(size) || size > max)
        return Fail();
    return Fixed(value, size);
}

bool XdrReader::Fixed(std::string& value, size_t size)
{
    const char* start = data;
    if (!Skip(size))
        return false;
    value.assign(start, size);
    return true;
}

bool XdrReader::Skip(size_t size)
{
    // Compared before padding: a size near SIZE_MAX must not wrap.
    if (!ok || size > left || Padded(size) > left)
        return Fail();
    data += Padded(size);
    left -= Padded(size);
    return true;
}
