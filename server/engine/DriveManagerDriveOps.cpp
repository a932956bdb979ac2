// Short drive operations: retension, the drive's own self-test, the unload
// that comes before a firmware upgrade, and the reservation that keeps
// other hosts off a shared drive.
#include "DriveManager.h"

bool CDriveManager::RetensionTape()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    // Refused before anything reaches the drive.
    if (!drive->IsRetensionable())
        return Refuse("Retension capability not available with this drive.");
    OpenCommand(drive, CAT_ISSUED_RETENSION);
    m_driverInterface->TestForUnitReady(drive);
    if (!m_driverInterface->TestForUnitReady(drive))
        return ExplainNotReady(drive);
    if (!m_driverInterface->LoadTape(drive, true))
        return SenseReport(drive, CAT_FAILURE_RETENSION);
    m_driverInterface->ReadPosition(drive);
    m_application->Msg(CAT_RETENSION_COMPLETE, true);
    Separator();
    return true;
}

bool CDriveManager::DriveDiagnostic()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, CAT_ISSUED_DRIVE_DIAGNOSTIC);
    if (drive->DriveType() != DRIVE_DAT_5 && drive->DriveType() != DRIVE_ULTRIUM)
        return Refuse("Electronic drive test not supported with this drive type.");
    m_driverInterface->TestForUnitReady(drive);
    // The drive's verdict is the status of its self-test command: no sense
    // line is shown. A drive that turned the command away (reserved by
    // another host, busy) gave no verdict at all.
    const bool passed = SendDiagnostic();
    const char* refusal = passed ? nullptr : RefusalText(drive);
    if (refusal != nullptr) {
        Line("Drive Diagnostic Test not run.");
        Line(refusal);
    } else {
        m_application->Msg(passed ? CAT_DIAGNOSTIC_PASS : CAT_DIAGNOSTIC_FAIL, true);
    }
    Separator();
    return passed;
}

bool CDriveManager::SendDiagnostic()
{
    return m_driverInterface->SendDiagnostic(m_application->GetCurrentDriveSelected());
}

void CDriveManager::EjectTape(CTapeDrive* drive)
{
    if (IsNewerFamilyDrive(drive->DriveType()))
        m_driverInterface->UnloadTape(drive);
}

bool CDriveManager::ReserveDrive(CTapeDrive* drive)
{
    return m_driverInterface->ReserveDrive(drive) || SenseReport(drive, CVString("Failure on: Reserve Drive"));
}
