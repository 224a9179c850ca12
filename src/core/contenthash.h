// A fast 64-bit hash of a file's bytes (the XXH64 function, seed 0), fed in
// pieces of any size. It tells whether a file is still the one a draft was
// made from, so it must be cheap enough to run over every byte read or
// written; it is no protection against someone who wants a collision.
#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>

namespace Inkwell {

class ContentHash {
public:
    ContentHash();
    void add(QByteArrayView bytes);
    // The hash of everything added so far; more may be added after.
    quint64 value() const;
    qint64 size() const { return m_total; }

private:
    std::array<quint64, 4> m_lanes;
    std::array<unsigned char, 32> m_pending{}; // bytes short of a 32-byte stripe
    int m_pendingSize = 0;
    qint64 m_total = 0;
};

quint64 contentHash(QByteArrayView bytes);

} // namespace Inkwell
