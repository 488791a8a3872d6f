// The virtual unit's own protocol, request by request, without dfu-util: the DFU states a
// request leads to, what a state refuses, the busy time announced and honoured, and the flash's
// cells, which only an erase sets again. What dfu-util makes of it is real_mode_dfu_util's.

#include "bootloader.h"

#include <QtTest>

using namespace virtual_unit;

namespace {

struct Step {
    Request request;
    quint16 block;
    QByteArray out;
    Reply::Kind reply;
    State after;
};

Step set_address(quint32 address) {
    QByteArray c(1, char(dfuse::set_address));
    for (int i = 0; i < 4; ++i)
        c.append(static_cast<char>((address >> (8 * i)) & 0xFF));
    return {Request::dnload, dfuse::command_block, c, Reply::Kind::answered, State::dnload_sync};
}
Step status(State after, Reply::Kind reply = Reply::Kind::answered) {
    return {Request::getstatus, 0, {}, reply, after};
}
Step plain(Request request, State after, Reply::Kind reply = Reply::Kind::answered) {
    return {request, 0, {}, reply, after};
}

Reply send(Bootloader& unit, const Step& step) {
    const bool in = step.request == Request::upload || step.request == Request::getstatus ||
                    step.request == Request::getstate;
    Setup setup{static_cast<quint8>(in ? 0xA1 : 0x21), static_cast<quint8>(step.request),
                step.block, 0, static_cast<quint16>(in ? 2048 : step.out.size())};
    if (step.request == Request::getstatus)
        setup.length = status_length;
    return unit.request(setup, step.out);
}

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class RealModeVirtualUnit : public QObject {
    Q_OBJECT
private slots:
    void requests_lead_through_the_dfu_states_data() {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<int>("status"); // Status, at the end
        using K = Reply::Kind;
        const quint32 flash = 0x08000000;
        const QList<Step> addressed{set_address(flash), status(State::dnbusy),
                                    status(State::dnload_idle)};
        QTest::newRow("set address: busy, then idle, then back to idle by ABORT")
            << addressed + QList<Step>{plain(Request::abort, State::dfu_idle)} << int(Status::ok);
        QTest::newRow("an UPLOAD in dfuDNLOAD-IDLE is stalled; CLRSTATUS clears dfuERROR")
            << addressed + QList<Step>{{Request::upload, 2, {}, K::stalled, State::error},
                                       status(State::error),
                                       plain(Request::clrstatus, State::dfu_idle)}
            << int(Status::ok);
        QTest::newRow("read unprotect is refused")
            << QList<Step>{{Request::dnload, 0, QByteArray(1, char(dfuse::read_unprotect)),
                            K::answered, State::dnload_sync},
                           status(State::dnbusy),
                           status(State::error)}
            << int(Status::err_target);
        QTest::newRow("an address outside the memory is refused")
            << QList<Step>{set_address(0x20000000), status(State::dnbusy), status(State::error)}
            << int(Status::err_target);
        QTest::newRow("a zero-length DNLOAD in dfuIDLE is stalled")
            << QList<Step>{{Request::dnload, 2, {}, K::stalled, State::error}}
            << int(Status::err_stalled_packet);
        QTest::newRow("leave: the zero-length DNLOAD manifests, then the unit is gone")
            << addressed + QList<Step>{{Request::dnload, 2, {}, K::answered, State::manifest_sync},
                                       status(State::manifest),
                                       status(State::manifest, K::gone)}
            << int(Status::ok);
    }

    void requests_lead_through_the_dfu_states() {
        QFETCH(QList<Step>, steps);
        Bootloader unit;
        for (const Step& step : steps) {
            const Reply reply = send(unit, step);
            QCOMPARE(int(reply.kind), int(step.reply));
            QCOMPARE(int(unit.state()), int(step.after));
        }
        QTEST(int(unit.status()), "status");
    }

    // The busy time is announced as bwPollTimeout; a GETSTATUS before it has passed finds the
    // unit still busy, and is counted.
    void a_poll_before_the_timeout_finds_the_unit_busy() {
        Bootloader unit;
        unit.timing.erase_page_ms = 60000;
        QByteArray erase = QByteArray(1, char(dfuse::erase)) + QByteArray::fromHex("00000008");
        QCOMPARE(int(send(unit, {Request::dnload, 0, erase, {}, {}}).kind),
                 int(Reply::Kind::answered));
        const Reply first = send(unit, status(State::dnbusy));
        QCOMPARE(static_cast<quint8>(first.data[1]) | static_cast<quint8>(first.data[2]) << 8,
                 60000 & 0xFFFF);
        QCOMPARE(static_cast<quint8>(first.data[3]), quint8(60000 >> 16));
        send(unit, status(State::dnbusy));
        QCOMPARE(int(unit.state()), int(State::dnbusy));
        QCOMPARE(unit.tally.early_polls, 1);
    }

    // Writing clears bits only: over an unerased byte the cell keeps the AND of both, and is
    // counted; after the page's erase it holds what was written.
    void flash_is_written_over_erased_cells_only() {
        Bootloader unit;
        unit.memories.set_image(0, QByteArray::fromHex("0F0F"));
        const auto write = [&unit](const QByteArray& data) {
            for (const Step& step :
                 {set_address(0x08000000), status(State::dnbusy), status(State::dnload_idle),
                  Step{Request::dnload, 2, data, {}, {}}, status(State::dnbusy),
                  status(State::dnload_idle)})
                send(unit, step);
        };
        write(QByteArray::fromHex("F0FF"));
        QCOMPARE(unit.memories.image(0).left(2), QByteArray::fromHex("000F"));
        QCOMPARE(unit.tally.bytes_over_unerased, 2);
        const QByteArray erase =
            QByteArray(1, char(dfuse::erase)) + QByteArray::fromHex("00000008");
        for (const Step& step : {Step{Request::dnload, 0, erase, {}, {}}, status(State::dnbusy),
                                 status(State::dnload_idle)})
            send(unit, step);
        QCOMPARE(unit.memories.image(0).left(16 * 1024), QByteArray(16 * 1024, '\xFF'));
        write(QByteArray::fromHex("F0FF"));
        QCOMPARE(unit.memories.image(0).left(2), QByteArray::fromHex("F0FF"));
        QCOMPARE(unit.tally.bytes_over_unerased, 2);
    }
};

QTEST_GUILESS_MAIN(RealModeVirtualUnit)
#include "real_mode_virtual_unit.moc"
