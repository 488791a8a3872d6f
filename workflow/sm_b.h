#pragma once
// The upgrade procedure as the user sees it: turns the worker's observations into states,
// announces each situation by a signal, and orders download or verification from the worker.

#include "device/product.h"
#include "dfu/device_info.h"
#include "workflow/explanation.h"
#include "workflow/situation.h"

#include <QState>
#include <QStateMachine>
#include <QString>

class SM_A;

class SM_B : public QStateMachine {
    Q_OBJECT

public:
    SM_B(SM_A* sm_A, Device::Type desired_type, QString desired_revision_);

    void add_connections();
    void enable_debug_output();

    // The product type and firmware revision of the firmware the program carries: one for the
    // whole program, whatever unit a machine follows.
    static Device::Type desired_ID;
    static QString desired_revision;

    QState* B1;
    QState* B2;
    QState* B3;
    QState* B4;
    QState* B6;
    QState* B7;
    QState* B8;

    // The unit read last: taken when the machine leaves B1, reset on every entry of B1.
    DFU::DeviceInfo device_info;
    // The worker said that unit is the one it downloaded into, read again after the download.
    bool device_after_download = false;

    // What the line under the status line explains; sig_ExplanationChanged tells when it
    // changed. Worked out on every change of state or of the worker's situation.
    Explanation explanation;

public slots:
    void do_download();

signals:
    void sig_UpgradeImpossible();
    void sig_UpgradePossible();
    void sig_DifferingRevision();
    void sig_DoDownload();
    void sig_UploadingVerifying();
    void sig_FwMatches();
    void sig_FwDiffers();
    void sig_DeviceConnected();
    void sig_InvalidProduct();
    void sig_Upgrading(); // on entry of B3: the download is ordered (the bar starts here)
    void sig_ExplanationChanged();

private:
    void make_states();
    void listen_to_worker();
    void add_transitions();
    void follow_the_unit();
    void take_announcement();
    void take_situation();
    void explain_at(Stage stage);
    Situation situation; // the worker's latest, copied in the GUI thread
    Stage stage = Stage::no_unit;
    // The record that the sig_DevConn being processed announced; GUI thread only. The guards
    // read it there.
    DFU::DeviceInfo announced;
    quint64 announced_unit = 0; // the worker's number of that unit
    bool announced_after_download = false;
    quint64 device_unit = 0;    // the worker's number of the unit in device_info, for orders
    bool guard_other_product() const;
    bool guard_other_revision() const;
    bool guard_desired_revision() const;

    SM_A* sm_A;
};
