// The drive manager of the host this program is built for, made without the
// controller naming the host's own class.
#ifndef TAPEDIAG_HOSTDRIVEMANAGER_H
#define TAPEDIAG_HOSTDRIVEMANAGER_H

#include <vector>

#include "VString.h"

class CCommandContext;
class CDriveManager;

// Discovers the drives (exactly `devices` when any are named) for the
// controller `context`, which owns the result. Null when it cannot be made.
CDriveManager* CreateHostDriveManager(CCommandContext& context, const std::vector<CVString>& devices);

#endif
