// Target selection: the drive of the selected list entry becomes the device object's current drive,
// its serial number and instance ID are kept for finding it again after the flash, and the update
// line shows what it would be updated to (or that it may not be). A version-only run writes the
// version file instead.
#include <exception>

#include "app/KestrelMain.h"
#include "package/RevisionRules.h"
#include "support/Format.h"
#include "support/ResultRecords.h"

namespace kestrel {
namespace {

// The SAS address as the device object keeps it: low and high double words.
void SetSasAddress(TAtaDevice& dev, uint64_t sas) {
    dev.SetCsmiSasAddress(static_cast<uint32_t>(sas & 0xFFFFFFFFu), static_cast<uint32_t>(sas >> 32));
}

}  // namespace

void TKestrelMain::cboDrivesChange() {
    try {
        iCurImage = 0;
        const int position = cboDrives.ItemIndex();
        // An empty list selects nothing: there is no drive to make current.
        if (position < 0 || position >= static_cast<int>(iItemDrive.size())) {
            WriteLog(Fmt("cboDrivesChange: no drive selected (item %d)", position));
            cmdUpdate.SetEnabled(false);
            return;
        }
        const int32_t idx = iItemDrive[static_cast<size_t>(position)];
        WriteLog(Fmt("cboDrivesChange: 1, idx=%d", idx));
        if (idx < 0 || static_cast<size_t>(idx) >= Count() || !pAtaDevice) {
            cmdUpdate.SetEnabled(false);
            return;
        }
        const DEV_INFO& d = m_DevInfo[static_cast<size_t>(idx)];
        TAtaDevice& dev = *pAtaDevice;

        if (gScanType == 1) {
            if (bDeployMode) {
                // The deployment system named the port, phy and address on the command line.
                dev.SelectPort(SCSI_PORT, nullptr, -1, SELECT_CSMI);
                dev.SetCsmiPhy(INDEX);
                dev.SetCsmiPort(PORT);
                SetSasAddress(dev, SAS_ADDR);
            } else {
                SCSI_PORT = d.order;
                SAS_ADDR = d.SasAddress;
                dev.SelectPort(d.order, nullptr, -1, SELECT_CSMI);
                dev.SetCsmiPhy(d.ScsiIndex);
                dev.SetCsmiPort(d.CsmiPort);
                SetSasAddress(dev, SAS_ADDR);
                WriteLog("cboDrivesChange: 2");
            }
        } else if (d.bIsNvme == 1) {
            if (d.bIsNvmeIrstDriver == 1) {
                WriteLog("cboDrivesChange: 3-1 NVME IRST");
                dev.SelectPort(d.order, nullptr, static_cast<int16_t>(d.HA), SELECT_NVME);
            } else {
                WriteLog("cboDrivesChange: 3-2 NVME INBOX");
                const std::string path = FieldText(d.DevicePath, sizeof d.DevicePath);
                dev.SelectPort(d.order, path.c_str(), -1, SELECT_NVME);
            }
            WriteLog("cboDrivesChange: 3-3");
            WriteLog(Fmt("cboDrivesChange: 3-4, m_DevInfo[idx].order=%d", d.order));
        } else {
            dev.SelectPort(d.order, DEV_PATH.empty() ? nullptr : DEV_PATH.c_str(), -1, SELECT_ATA);
            WriteLog("cboDrivesChange: 3-5");
        }

        sCurSerial = FieldText(d.szSerial, sizeof d.szSerial);
        sCurInstanceId = FieldText(d.szInstanceId, sizeof d.szInstanceId);
        WriteLog("cboDrivesChange: 4");
        WriteLog("cboDrivesChange: 5");

        // The update line comes back in place of an earlier update's progress line.
        lblUpdateMsg.Show();
        if (d.bEnabled == 1) {
            WriteLog("cboDrivesChange: 6");
            cmdUpdate.SetEnabled(true);
            lblOldFW.Show();
            lblTo.Show();
            lblNewFW.Show();
            lblUpdateMsg.SetCaption(Text("It will be updated from"));
            lblUpdateMsg.SetFontColor(clBlack);
            lblTo.SetFontColor(clBlack);

            iCurImage = d.iImageIndex;
            lblOldFW.SetCaption(FieldText(d.szFwRev, sizeof d.szFwRev));
            const TargetRevision target =
                ChkO2N(d, lblOldFW.Caption(), pkg_, iCurImage, *this, [this](std::string_view line) { WriteLog(line); });
            lblNewFW.SetCaption(target.lblNewFW);
            lblFWExt.SetCaption(target.lblFWExt);

            if (bVersionOnly) {
                WriteLog(Fmt("SaveVersion INI: [CURR_FW=%s][TARGET_FW=%s] ", lblOldFW.Caption().c_str(), lblNewFW.Caption().c_str()));
                SaveVersionIni(*p_.files, *p_.system, lblOldFW.Caption(), lblNewFW.Caption());
                return;
            }
            if (bDeployMode) {
                // The update line is laid out as in a normal run; the progress panel shows the drive.
                bDeployMode = false;
                FormShow();
                bDeployMode = true;
                Label5.SetCaption(FieldText(d.szModel, sizeof d.szModel));
                Label6.SetCaption(lblOldFW.Caption());
                Label7.SetCaption(lblNewFW.Caption());
            } else {
                WriteLog("cboDrivesChange: 7");
                FormShow();
            }
        } else {
            const std::string model = FieldText(d.szModel, sizeof d.szModel);
            const std::string fw = FieldText(d.szFwRev, sizeof d.szFwRev);
            WriteLog(Fmt("ENABLED: %d, %.40s %.8s\n", d.bEnabled, model.c_str(), fw.c_str()));
            cmdUpdate.SetEnabled(false);
            lblOldFW.Hide();
            lblTo.Hide();
            lblNewFW.Hide();
            lblUpdateMsg.SetCaption(Text("This drive is not allowed to be updated."));
            lblUpdateMsg.SetFontColor(clMaroon);
            if (bVersionOnly) {
                // The whole revision, as for an eligible drive: an inventory reading the file must not
                // see a revision cut to seven characters that the drive does not run.
                const std::string current = TrimText(FieldText(d.szFwRev, sizeof d.szFwRev));
                WriteLog(Fmt("SaveVersion INI: [CURR_FW=%s][TARGET_FW=N/A] ", current.c_str()));
                SaveVersionIni(*p_.files, *p_.system, current, "N/A");
            }
        }
    } catch (const std::exception&) {
        // The labels keep what they had reached.
    }
}

}  // namespace kestrel
