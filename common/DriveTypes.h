// The drive type codes identification assigns, and the platform kinds a
// program reports, in one place for the drive record, the engine and both
// programs.
#ifndef TAPEDIAG_DRIVETYPES_H
#define TAPEDIAG_DRIVETYPES_H

// Drive type codes. The diagnostics branch on them throughout.
const int DRIVE_TRAVAN_0 = 0;
const int DRIVE_TRAVAN_1 = 1;
const int DRIVE_TRAVAN_2 = 2;
const int DRIVE_DAT_3 = 3;
const int DRIVE_DAT_4 = 4;
const int DRIVE_DAT_5 = 5;
const int DRIVE_ULTRIUM = 7;

// DAT types 4 and 5 and Ultrium drives: the newer families, which report a
// serial number and a long firmware text, take a firmware download and are
// unloaded before one.
inline bool IsNewerFamilyDrive(int driveType)
{
    return driveType == DRIVE_DAT_4 || driveType == DRIVE_DAT_5 || driveType == DRIVE_ULTRIUM;
}

// Platform kinds: the kind a program reports selects how it writes and
// accepts drive addresses. The client reports none; this build's drive
// manager sets PLATFORM_KIND_LINUX. Kinds 1 to 4 belong to hosts this program
// is never built for; they keep their rules.
const int PLATFORM_KIND_NONE = 0;
const int PLATFORM_KIND_REBOOTS_AFTER_UPGRADE = 1;  // says the host should be rebooted after an upgrade
const int PLATFORM_KIND_REGISTRY = 2;               // keeps a registry entry of each drive's firmware
const int PLATFORM_KIND_LINUX = 5;

// Port, bus, target and LUN (kinds 2 and 4).
inline bool HasFourPartAddress(int kind)
{
    return kind == 2 || kind == 4;
}
// Adapter, target and LUN (kinds 1, 3 and 5).
inline bool HasThreePartAddress(int kind)
{
    return kind == 1 || kind == 3 || kind == 5;
}

#endif
