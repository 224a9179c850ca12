#include "core/contenthash.h"

#include <bit>
#include <cstring>

namespace Inkwell {

namespace {

constexpr quint64 prime1 = 0x9E3779B185EBCA87ULL;
constexpr quint64 prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr quint64 prime3 = 0x165667B19E3779F9ULL;
constexpr quint64 prime4 = 0x85EBCA77C2B2AE63ULL;
constexpr quint64 prime5 = 0x27D4EB2F165667C5ULL;

// Little-endian reads, whatever the machine's order, so that a draft's
// hash means the same on every machine.
quint64 read64(const unsigned char *p)
{
    quint64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

quint32 read32(const unsigned char *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint64 round(quint64 acc, quint64 input)
{
    acc += input * prime2;
    acc = std::rotl(acc, 31);
    return acc * prime1;
}

quint64 mergeRound(quint64 acc, quint64 lane)
{
    acc ^= round(0, lane);
    return acc * prime1 + prime4;
}

void stripe(std::array<quint64, 4> &lanes, const unsigned char *p)
{
    for (int i = 0; i < 4; ++i)
        lanes[i] = round(lanes[i], read64(p + 8 * i));
}

} // namespace

ContentHash::ContentHash() : m_lanes{prime1 + prime2, prime2, 0, 0 - prime1} {}

void ContentHash::add(QByteArrayView bytes)
{
    // An empty view may have no data at all, which memcpy must not see.
    if (bytes.isEmpty())
        return;
    auto p = reinterpret_cast<const unsigned char *>(bytes.data());
    qsizetype left = bytes.size();
    m_total += left;
    if (m_pendingSize > 0) {
        const qsizetype take = std::min<qsizetype>(left, 32 - m_pendingSize);
        std::memcpy(m_pending.data() + m_pendingSize, p, size_t(take));
        m_pendingSize += int(take);
        p += take;
        left -= take;
        if (m_pendingSize < 32)
            return;
        stripe(m_lanes, m_pending.data());
        m_pendingSize = 0;
    }
    for (; left >= 32; p += 32, left -= 32)
        stripe(m_lanes, p);
    if (left > 0)
        std::memcpy(m_pending.data(), p, size_t(left));
    m_pendingSize = int(left);
}

quint64 ContentHash::value() const
{
    quint64 h;
    if (m_total >= 32) {
        h = std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7) + std::rotl(m_lanes[2], 12) +
            std::rotl(m_lanes[3], 18);
        for (quint64 lane : m_lanes)
            h = mergeRound(h, lane);
    } else {
        h = prime5;
    }
    h += quint64(m_total);
    const unsigned char *p = m_pending.data();
    int left = m_pendingSize;
    for (; left >= 8; p += 8, left -= 8) {
        h ^= round(0, read64(p));
        h = std::rotl(h, 27) * prime1 + prime4;
    }
    if (left >= 4) {
        h ^= quint64(read32(p)) * prime1;
        h = std::rotl(h, 23) * prime2 + prime3;
        p += 4;
        left -= 4;
    }
    for (; left > 0; ++p, --left) {
        h ^= *p * prime5;
        h = std::rotl(h, 11) * prime1;
    }
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    h *= prime3;
    h ^= h >> 32;
    return h;
}

quint64 contentHash(QByteArrayView bytes)
{
    ContentHash hash;
    hash.add(bytes);
    return hash.value();
}

} // namespace Inkwell
