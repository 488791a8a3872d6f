// libFuzzer target: make_FW_Info and get_string on arbitrary bytes. Beyond the sanitizers'
// checks it traps when a result breaks what the block's layout allows.

#include "device/fw_info.h"

#include "fuzz_support.h"

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    const QByteArray image = fuzz::unowned(data, size);
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
