#include "workflow/sm_b.h"

#include "workflow/guarded_transition.h"
#include "workflow/sm_a.h"

#include <QDebug>

Device::Type SM_B::desired_ID = Device::Type(0);
QString SM_B::desired_revision;

bool SM_B::guard_other_product() const {
    return announced.valid && announced.type != desired_ID;
}

bool SM_B::guard_other_revision() const {
    return announced.valid && announced.type == desired_ID &&
           announced.FW_revision != desired_revision;
}

bool SM_B::guard_desired_revision() const {
    return announced.valid && announced.type == desired_ID &&
           announced.FW_revision == desired_revision;
}

SM_B::SM_B(SM_A* sm_A_, Device::Type desired_type, QString desired_revision_)
    : QStateMachine(nullptr), sm_A(sm_A_) {
    desired_ID = desired_type;
    desired_revision = std::move(desired_revision_);
    make_states();
    listen_to_worker();
    add_transitions();
    add_connections();
}

void SM_B::make_states() {
    auto make_state = [this](const char* name) {
        auto* s = new QState();
        s->setObjectName(QString::fromLatin1(name));
        addState(s);
        return s;
    };
    B1 = make_state("B1: No (DFU-SE) dev. conn.");
    B2 = make_state("B2: Conn. to (DFU-SE) dev. with diff. FW rev.");
    B3 = make_state("B3: Upgrading FW");
    B4 = make_state("B4: Uploading and verifying FW");
    B6 = make_state("B6: FW in dev. matches");
    B7 = make_state("B7: FW in dev. differs");
    B8 = make_state("B8: Invalid (DFU-SE) dev. conn.");
    setInitialState(B1);
}

void SM_B::listen_to_worker() {
    // Each sig_DevConn takes its own record from the worker. This queued connection is made
    // before the machine listens to the signal, so for every emission it runs first, and the
    // machine then evaluates the guards (synchronously, in the GUI thread) on that record.
    connect(sm_A, &SM_A::sig_DevConn, this, &SM_B::take_announcement, Qt::QueuedConnection);
    // The latest situation, copied under the worker's mutex when its change arrives.
    connect(sm_A, &SM_A::sig_SituationChanged, this, &SM_B::take_situation, Qt::QueuedConnection);
}

void SM_B::add_transitions() {
    auto guarded = [this](QState* target, bool (SM_B::*guard)() const) {
        auto* t = new GuardedTransition(sm_A, SIGNAL(sig_DevConn()), [this, guard] { return (this->*guard)(); });
        t->setTargetState(target);
        B1->addTransition(t);
    };
    guarded(B8, &SM_B::guard_other_product);
    guarded(B2, &SM_B::guard_other_revision);
    guarded(B4, &SM_B::guard_desired_revision);
    B2->addTransition(this, &SM_B::sig_DoDownload, B3);
    B2->addTransition(sm_A, &SM_A::sig_NoDevConn, B1);
    B3->addTransition(sm_A, &SM_A::sig_NoDevConn, B1);
    B4->addTransition(sm_A, &SM_A::sig_FwUploadedMatches, B6);
    B4->addTransition(sm_A, &SM_A::sig_FwUploadedDiffers, B7);
    B6->addTransition(sm_A, &SM_A::sig_NoDevConn, B1);
    B7->addTransition(this, &SM_B::sig_DoDownload, B3);
    B7->addTransition(sm_A, &SM_A::sig_NoDevConn, B1);
    B8->addTransition(sm_A, &SM_A::sig_NoDevConn, B1);
}

void SM_B::take_announcement() {
    const SM_A::Announcement a = sm_A->take_announcement();
    announced = a.device_info;
    announced_unit = a.unit;
    announced_after_download = a.after_download;
}

void SM_B::take_situation() {
    situation = sm_A->situation();
    explain_at(stage);
}

void SM_B::explain_at(Stage now) {
    stage = now;
    const Explanation e = explain(stage, situation);
    if (e == explanation)
        return;
    explanation = e;
    emit sig_ExplanationChanged();
}

namespace {

// What a state does on entry (and, for B1, on exit): run directly, in the GUI thread.
template <typename Signal, typename Action> void on(QState* state, Signal signal, Action action) {
    QObject::connect(state, signal, state, action, Qt::DirectConnection);
}

} // namespace

// B1 is left for a unit just announced: it becomes the unit of the states that follow.
void SM_B::follow_the_unit() {
    on(B1, &QState::entered, [this] {
        emit sig_UpgradeImpossible();
        device_info = DFU::DeviceInfo();
        device_unit = 0;
        device_after_download = false;
        explain_at(Stage::no_unit);
    });
    on(B1, &QState::exited, [this] {
        device_info = announced;
        device_unit = announced_unit;
        device_after_download = announced_after_download;
        qInfo().noquote() << "Device connected with:\n" << device_info;
        emit sig_DeviceConnected();
    });
}

void SM_B::add_connections() {
    follow_the_unit();
    on(B2, &QState::entered, [this] {
        emit sig_UpgradePossible();
        emit sig_DifferingRevision();
        explain_at(Stage::offered);
    });
    on(B3, &QState::entered, [this] {
        emit sig_Upgrading();
        sm_A->set_command(SM_A::download_FW, device_unit);
        explain_at(Stage::downloading);
    });
    on(B4, &QState::entered, [this] {
        emit sig_UploadingVerifying();
        sm_A->set_command(SM_A::upload_and_compare_FW, device_unit);
        explain_at(Stage::verifying);
    });
    on(B6, &QState::entered, [this] {
        emit sig_FwMatches();
        explain_at(Stage::matches);
    });
    on(B7, &QState::entered, [this] {
        emit sig_UpgradePossible();
        emit sig_FwDiffers();
        explain_at(Stage::differs);
    });
    on(B8, &QState::entered, [this] {
        emit sig_InvalidProduct();
        explain_at(Stage::refused);
    });
}

void SM_B::do_download() {
    emit sig_DoDownload();
}

void SM_B::enable_debug_output() {
    qInfo() << "SM_B: Add connections to show emitted signals";
    auto log_signal = [this](void (SM_B::*signal)(), const char* name) {
        const QString text = QStringLiteral("SM_B: /sig_%1").arg(QLatin1String(name));
        connect(
            this, signal, this, [text] { qDebug() << text; }, Qt::DirectConnection);
    };
    log_signal(&SM_B::sig_UpgradeImpossible, "UpgradeImpossible");
    log_signal(&SM_B::sig_UpgradePossible, "UpgradePossible");
    log_signal(&SM_B::sig_DifferingRevision, "DifferingRevision");
    log_signal(&SM_B::sig_DoDownload, "DoDownload");
    log_signal(&SM_B::sig_UploadingVerifying, "UploadingVerifying");
    log_signal(&SM_B::sig_FwMatches, "FwMatches");
    log_signal(&SM_B::sig_FwDiffers, "FwDiffers");
    log_signal(&SM_B::sig_DeviceConnected, "DeviceConnected");
    log_signal(&SM_B::sig_InvalidProduct, "InvalidProduct");
    log_signal(&SM_B::sig_Upgrading, "Upgrading");
    for (QState* state : {B1, B2, B3, B4, B6, B7, B8}) {
        const QString text = QStringLiteral("SM_B: entered %1").arg(state->objectName());
        connect(
            state, &QState::entered, state, [text] { qDebug() << text; }, Qt::DirectConnection);
    }
}
