#pragma once
// What every parser fuzz target shares: a trap on a broken invariant, silence for the parsers'
// log messages (they would only slow the run down), and the input as an unowned byte array or
// as text.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace fuzz {

inline void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

inline void quiet_messages() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// The initialiser of a target that builds nothing in advance, written at file scope (without a
// semicolon). libFuzzer runs it once, before the first input.
#define FUZZ_QUIET_INITIALIZER()                                                                   \
    extern "C" int LLVMFuzzerInitialize(int*, char***) {                                           \
        fuzz::quiet_messages();                                                                    \
        return 0;                                                                                  \
    }

// Not copied: a read past the input lands outside libFuzzer's exactly sized buffer.
inline QByteArray unowned(const std::uint8_t* data, std::size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

// Decoded as the product decodes dfu-util's output and the settings file.
inline QString utf8(const std::uint8_t* data, std::size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

constexpr std::size_t max_input_size = 1 << 20;

} // namespace fuzz
