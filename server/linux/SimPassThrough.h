// CSimPassThrough: a virtual tape drive (vtape) presented as a device, so
// that every diagnostic runs the same way without hardware.
#ifndef TAPEDIAG_SIMPASSTHROUGH_H
#define TAPEDIAG_SIMPASSTHROUGH_H

#include "PassThrough.h"
#include "VString.h"
#include "VirtualDrive.h"

#include <memory>

class CSimPassThrough : public CPassThrough {
public:
    // `modelAndFaults` is "MODEL[,FAULT...]". Null, with the reason in
    // `error`, when the virtual drive refuses the text or no descriptor is
    // left.
    static std::unique_ptr<CSimPassThrough> Open(const char* modelAndFaults, CVString& error);

    ~CSimPassThrough() override;

    CSimPassThrough(const CSimPassThrough&) = delete;
    CSimPassThrough& operator=(const CSimPassThrough&) = delete;

    // Always completed: the virtual drive has no path that can fail.
    CScsiResult Execute(const CScsiRequest& request) override;
    // A descriptor of /dev/null held for the object's life: unique among the
    // process's descriptors, and never a real device.
    int Descriptor() const override { return m_fd; }

    CVirtualDrive& Drive() { return *m_drive; }

private:
    CSimPassThrough(std::unique_ptr<CVirtualDrive> drive, int fd);

    std::unique_ptr<CVirtualDrive> m_drive;
    int m_fd;
};

#endif
