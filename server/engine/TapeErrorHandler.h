// CTapeErrorHandler: judges the drive's error counter log pages after a
// read/write or compression test. Each drive family has its own error figure
// and a limit that grows with the amount of data the test moved.
#ifndef TAPEDIAG_TAPEERRORHANDLER_H
#define TAPEDIAG_TAPEERRORHANDLER_H

#include <initializer_list>

#include "TapeDrive.h"

class CCommandContext;
class CDriveManager;

// One parameter of a log page: code (2 bytes), control, length, value.
struct logparameter {
    unsigned char code[2];
    unsigned char control;
    unsigned char length;
    unsigned char value[1];  // `length` bytes, big-endian
};

// A counter page as LOG SENSE brought it: the zero-filled buffer and the
// bytes of it that arrived (0 when LOG SENSE failed).
struct CCounterPage {
    unsigned char* data;
    int received;
};

enum ECounterVerdict {
    COUNTERS_PASS,
    COUNTERS_FAIL,
    // A page the figure uses lacks a parameter of it (the page could not be
    // read, or arrived shorter): without its counters a drive would pass
    // with no errors counted at all.
    WRITE_COUNTERS_UNREADABLE,
    READ_COUNTERS_UNREADABLE
};

class CTapeErrorHandler {
public:
    // Reports through the controller of `manager`.
    explicit CTapeErrorHandler(CDriveManager* manager);
    virtual ~CTapeErrorHandler() {}

    // Sets the limit for the drive family and the test size.
    void InitErrorHandler(int driveType, long megabytes);
    // True for pass. The one-page form reads the read error counter page of
    // a Travan or DAT drive; any other drive type fails.
    bool CheckDriveErrors(CTapeDrive* drive, unsigned char* page);
    // True for pass, from the write and read error counter pages of an Ultrium drive.
    bool CheckDriveErrors(CTapeDrive* drive, unsigned char* writePage, unsigned char* readPage);
    // The verdict from the pages the drive's figure uses (the read page of a
    // Travan or DAT drive, both pages of an Ultrium drive), once each
    // parameter the figure counts is known to lie whole within the page and
    // the bytes received.
    ECounterVerdict Judge(CTapeDrive* drive, const CCounterPage& writePage, const CCounterPage& readPage);

    long long TR4Errors(unsigned char* page);
    long long DATErrors(unsigned char* page);
    long long NivraErrors(unsigned char* writePage, unsigned char* readPage);
    long long GetIndividualParamValue(logparameter* parameter);

    long long MaxAllowedErrors() const { return m_maxAllowedErrors; }

private:
    // The value of the first parameter with this code; found tells whether
    // there was one.
    long long FindParameter(unsigned char* page, int code, bool& found);
    // Whether the first parameter with each of these codes lies whole within
    // the page and the bytes received.
    static bool HoldsParameters(const CCounterPage& page, std::initializer_list<int> codes);
    bool Verdict(long long errors);

    CCommandContext* m_application;
    long long m_maxAllowedErrors;
};

#endif
