// libFuzzer target: make_FW_Info and get_string on arbitrary bytes. Beyond the sanitizers'
// checks it traps when a result breaks what the block's layout allows.

#include "device/fw_info.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {
void check(bool ok) {
    if (!ok)
        __builtin_trap();
}
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(quiet); // the parser's debug messages would only slow it down
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20)
        return 0;
    // Not copied: a read past the input lands outside libFuzzer's exactly sized buffer.
    const QByteArray image =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size));
    using namespace Device::fw_layout;
    const Device::FW_Info info = Device::make_FW_Info(image);
    const QString text = info;
    if (info.valid) {
        const int begin = image.indexOf(QByteArray("\x12\x47\x23\x01", 4));
        check(begin >= 0 && begin <= max_marker_offset - pairs_offset);
        check(info.name.size() < text_field_size && info.revision.size() < text_field_size);
        check(info.details.size() <= std::size_t((max_marker_offset - pairs_offset) / pair_size));
        for (const auto& [name, value] : info.details)
            check(!name.isEmpty() && !value.isEmpty());
        check(info.product.raw_type == static_cast<quint8>(image.at(begin + product_offset)));
        check(text.startsWith(QLatin1String("FW info:\n  Type: ")));
    } else {
        check(info.product == Device::ProductInfo() && info.product.raw_type == 0);
        check(info.name.isNull() && info.revision.isNull() && info.details.empty());
        check(text == QLatin1String("FW info:\n\tInvalid"));
    }
    // get_string at offsets around both ends of the input.
    for (int offset : {-1, 0, int(size) - 31, int(size) - 1, int(size), int(size) + 1}) {
        const QString s = Device::get_string(image, offset);
        check(s.size() < text_field_size);
    }
    return 0;
}
