// Opening a device from the text of a -dev: switch.
#ifndef TAPEDIAG_DEVICEOPENER_H
#define TAPEDIAG_DEVICEOPENER_H

#include "PassThrough.h"
#include "VString.h"

#include <memory>

// "sim:MODEL[,FAULT...]" opens a virtual drive, "iscsi://..." is refused by
// this build, and any other text is the path of a local tape device node.
// Null, with a short reason in `error`, when the device cannot be opened.
std::unique_ptr<CPassThrough> OpenDevice(const char* device, CVString& error);

#endif
