#pragma once
// Writers of the two records a unit's memory holds, in the layouts of fw_info.h and otp_info.h:
// for the build's firmware tool, the simulator and the tests. Qt Core only.

#include "device/fw_info.h"
#include "device/otp_info.h"
#include "device/product.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace Device {

// A whole firmware information block, begin marker to end marker. Texts longer than 31 bytes
// of UTF-8 are cut there.
QByteArray make_FW_Info_block(ProductInfoRaw product, const QString& name, const QString& revision,
                              const FW_Details& details);

// One 16-byte OTP slot holding a record.
QByteArray make_OTP_record(ProductInfoRaw product,
                           const std::array<quint8, otp_layout::tail_size>& tail);

} // namespace Device
