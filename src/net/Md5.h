#pragma once
// The MD5 message digest (RFC 1321), used for the POP3 APOP login.

#include <QByteArray>
#include <array>
#include <cstdint>

namespace net {

class Md5 {
public:
    Md5();
    void update(const char *data, qsizetype size);
    void update(const QByteArray &data) { update(data.constData(), data.size()); }
    // The 16-byte digest; the object is finished afterwards.
    QByteArray digest();

    // The digest of `data` as 32 lower-case hexadecimal digits.
    static QByteArray hexDigest(const QByteArray &data);

private:
    void transform(const unsigned char *block);

    std::array<uint32_t, 4> state_;
    uint64_t length_ = 0; // bytes so far
    unsigned char buffer_[64] = {};
};

} // namespace net
