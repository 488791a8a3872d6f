// libFuzzer target: make_OTP_Info on arbitrary bytes. Beyond the sanitizers' checks it traps
// when a result breaks what the record's layout allows.

#include "device/otp_info.h"

#include "fuzz_support.h"

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    const QByteArray image = fuzz::unowned(data, size);
    using namespace Device::otp_layout;
    const Device::OTP_Info info = Device::make_OTP_Info(image);
    const QString text = info;
    check(!Device::is_valid(info.product.type) || Device::is_known(info.product.type));
    check(info.valid == Device::is_known(info.product.type));
    if (info.valid) {
        const int at = image.lastIndexOf(QByteArray("\x11\x47\x23\x01", 4));
        check(at >= 0 && at % slot_size == 0 && at <= last_slot_offset);
        check(at + slot_size <= image.size());
        for (int i = 0; i < tail_size; ++i)
            check(info.tail[std::size_t(i)] == static_cast<quint8>(image.at(at + tail_offset + i)));
        check(text.startsWith(QLatin1String("OTP info:\nMarker valid\n")));
    } else {
        check(text.startsWith(QLatin1String("OTP info:\nMarker invalid\n")));
    }
    check(text.endsWith(QLatin1Char('\n')));
    return 0;
}
