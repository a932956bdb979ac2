// A driver interface for engine tests that need no device: each operation
// answers from fields the test sets, and every call is counted by name.
#ifndef TAPEDIAG_TEST_FAKEDRIVERINTERFACE_H
#define TAPEDIAG_TEST_FAKEDRIVERINTERFACE_H

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "DriveManager.h"
#include "DriverInterface.h"

class FakeDriverInterface : public CDriverInterface {
public:
    unsigned char sense[32] = {};
    bool answer = true;                                  // result of every command not set below
    std::map<int, std::vector<unsigned char>> vpdPages;  // answered by ExtendedDriveInquiry
    int vpdFailures = 0;                                 // the first requests that fail
    std::map<std::string, int> calls;
    std::vector<unsigned char> modeData;    // answered by ModeSensePage
    int modeSenseFailures = 0;              // the first mode sense requests that fail
    int selectParameterLength = -1;         // of the last ModeSelectPage
    std::vector<unsigned char> selectData;  // sent by the last ModeSelectPage
    int transferLength = 0;                 // answered by GetTransferLength; set by ModeSensePage

    void GetSense(CTapeDrive*, unsigned char* buffer, int length) override
    {
        ++calls["GetSense"];
        std::memcpy(buffer, sense, length < 32 ? length : 32);
    }
    int GetTransferLength(CTapeDrive*) override { return transferLength; }
    bool ExtendedDriveInquiry(CTapeDrive*, int page, unsigned char* buffer, int length) override
    {
        ++calls["ExtendedDriveInquiry"];
        if (vpdFailures > 0) {
            --vpdFailures;
            return false;
        }
        auto found = vpdPages.find(page);
        if (found == vpdPages.end())
            return false;
        size_t count = found->second.size() < static_cast<size_t>(length) ? found->second.size() : length;
        std::memcpy(buffer, found->second.data(), count);
        return true;
    }
    bool LoadTape(CTapeDrive*, bool) override { return Call("LoadTape"); }
    bool UnloadTape(CTapeDrive*) override
    {
        Call("UnloadTape");
        return true;
    }
    bool WriteFileMarks(CTapeDrive*) override { return Call("WriteFileMarks"); }
    bool Rewind(CTapeDrive*) override { return Call("Rewind"); }
    long GetBlockSize(CTapeDrive*) override
    {
        Call("GetBlockSize");
        return 0;
    }
    bool TestForUnitReady(CTapeDrive*) override { return Call("TestForUnitReady"); }
    bool WriteDataToDrive(CTapeDrive*, long, unsigned char*, long) override { return Call("WriteDataToDrive"); }
    bool ReadDataFromDrive(CTapeDrive*, long, unsigned char*, long) override { return Call("ReadDataFromDrive"); }
    bool ReadPosition(CTapeDrive*) override { return Call("ReadPosition"); }
    bool DriveInquiry(CTapeDrive*, unsigned char*, int) override { return Call("DriveInquiry"); }
    bool DriveInquiry(int, unsigned char*, int) override { return Call("DriveInquiry"); }
    bool ModeSensePage(CTapeDrive*, int, unsigned char* buffer, int length) override
    {
        if (!Call("ModeSensePage"))
            return false;
        if (modeSenseFailures > 0) {
            --modeSenseFailures;
            return false;
        }
        size_t count = modeData.size() < static_cast<size_t>(length) ? modeData.size() : length;
        if (count > 0)
            std::memcpy(buffer, modeData.data(), count);
        transferLength = static_cast<int>(count);
        return true;
    }
    bool ModeSelectPage(CTapeDrive*, int parameterLength, unsigned char* buffer, int length) override
    {
        selectParameterLength = parameterLength;
        selectData.assign(buffer, buffer + length);
        return Call("ModeSelectPage");
    }
    bool LogSense(CTapeDrive*, unsigned char*, int, int) override { return Call("LogSense"); }
    bool LogSelectReset(CTapeDrive*) override { return Call("LogSelectReset"); }
    bool FastFwdToEOD(CTapeDrive*) override { return Call("FastFwdToEOD"); }
    bool SendDiagnostic(CTapeDrive*) override { return Call("SendDiagnostic"); }
    bool RequestSense(CTapeDrive*, unsigned char*, int) override { return Call("RequestSense"); }
    bool DownloadFirmware(CTapeDrive*, unsigned char*, int, int, int, int) override { return Call("DownloadFirmware"); }
    bool ParkDriveArm(CTapeDrive*, bool) override { return Call("ParkDriveArm"); }
    bool ReserveDrive(CTapeDrive*) override { return Call("ReserveDrive"); }
    void ReleaseDrive(CTapeDrive*) override { Call("ReleaseDrive"); }
    bool IsAutoLoaderConfiguration(CTapeDrive*) override
    {
        Call("IsAutoLoaderConfiguration");
        return false;
    }
    bool ReadBuffer(CTapeDrive*, unsigned char*, unsigned char*, int) override { return Call("ReadBuffer"); }
    bool OpCmd(CTapeDrive*, unsigned char*, int) override { return Call("OpCmd"); }
    bool GetDataCmd(CTapeDrive*, unsigned char*, int, unsigned char*, int) override { return Call("GetDataCmd"); }
    bool SendDataCmd(CTapeDrive*, unsigned char*, int, unsigned char*, int) override { return Call("SendDataCmd"); }
    void SetDeviceTimeout(int, int) override { ++calls["SetDeviceTimeout"]; }

private:
    bool Call(const char* name)
    {
        ++calls[name];
        return answer;
    }
};

// A drive manager over a FakeDriverInterface, with the drives a test adds.
class FakeDriveManager : public CDriveManager {
public:
    explicit FakeDriveManager(CCommandContext& context) : CDriveManager(context) { SetDriverInterface(&fake); }
    bool BuildDriveList() override { return true; }
    CTapeDrive* Add(int adapter, int target, int lun, int type, bool isScsi = true, const char* serial = "")
    {
        CTapeDrive* drive =
            new CTapeDrive(adapter, target, lun, "CORVANE TEST DRIVE      1234", type, isScsi, false, true);
        drive->SerialNumber(serial);
        GetDriveList()->AddHead(drive);
        return drive;
    }
    FakeDriverInterface fake;
};

#endif
