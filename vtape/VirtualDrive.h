// A SCSI tape drive emulated at the CDB level: it takes a CDB, a data
// direction and a buffer and answers with status, data and fixed-format sense
// data, as a real drive behind a pass-through would.
#ifndef VTAPE_VIRTUALDRIVE_H
#define VTAPE_VIRTUALDRIVE_H

#include <memory>
#include <string>

#include "ScsiCodes.h"

enum VDataDirection { VDIR_NONE, VDIR_IN, VDIR_OUT };

struct CVirtualReply {
    unsigned char status;     // GOOD_STATUS or CHECK_CONDITION_STATUS (ScsiCodes.h)
    unsigned char sense[32];  // fixed-format sense data (70h) on CHECK CONDITION, else zero
    int senseLength;          // valid sense bytes: 18 on CHECK CONDITION, else 0
    int transferred;          // bytes moved in the data phase
};

class CVirtualDriveImpl;

class CVirtualDrive {
public:
    // Builds a drive from "MODEL[,FAULT...]" (see vtape/README.md). Returns
    // null and a one-line reason in `error` when the text names an unknown
    // model or fault, or a fault value is malformed.
    static std::unique_ptr<CVirtualDrive> Create(const std::string& spec, std::string& error);

    ~CVirtualDrive();

    // Runs one command. `data` holds `dataLength` bytes for VDIR_OUT and
    // receives up to `dataLength` bytes for VDIR_IN; it may be null when
    // dataLength is 0. Never throws and never touches memory outside data.
    CVirtualReply Execute(const unsigned char* cdb, int cdbLength, VDataDirection direction, unsigned char* data,
                          int dataLength);

    // For tests and benchmarks: number of distinct block contents the
    // cartridge stores (identical blocks are stored once).
    long StoredBlockContents() const;

    // The models and faults, one per line, for error messages and help.
    static std::string Catalogue();

private:
    explicit CVirtualDrive(std::unique_ptr<CVirtualDriveImpl> impl);
    std::unique_ptr<CVirtualDriveImpl> m_impl;
};

#endif
