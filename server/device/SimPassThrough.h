// CSimPassThrough: a virtual tape drive (vtape) presented as a device, so
// that every diagnostic runs the same way without hardware.
#ifndef TAPEDIAG_SIMPASSTHROUGH_H
#define TAPEDIAG_SIMPASSTHROUGH_H

#include "DeviceOpener.h"
#include "PassThrough.h"
#include "VString.h"
#include "VirtualDrive.h"

#include <memory>

class CSimPassThrough : public CPassThrough {
public:
    // `modelAndFaults` is "MODEL[,FAULT...]". Null, with the reason in
    // `error`, when the virtual drive refuses the text.
    static std::unique_ptr<CSimPassThrough> Open(const char* modelAndFaults, CVString& error);

    ~CSimPassThrough() override;

    CSimPassThrough(const CSimPassThrough&) = delete;
    CSimPassThrough& operator=(const CSimPassThrough&) = delete;

    CVirtualDrive& Drive() { return *m_drive; }

protected:
    // Always completed: the virtual drive has no path that can fail.
    CScsiResult Send(const CScsiRequest& request) override;

private:
    explicit CSimPassThrough(std::unique_ptr<CVirtualDrive> drive);

    std::unique_ptr<CVirtualDrive> m_drive;
};

// The transport of "sim:MODEL[,FAULT...]" device texts.
COpenedDevice OpenSimDevice(const char* device, const CHostPaths& paths, CVString& error);

#endif
