#include "discovery/Discovery.h"

#include "platform/Platform.h"
#include "plugin/ServerProfile.h"

namespace vesperline {

// LoadConfig lives with the configuration file reader, in ConfigFile.cpp.

void CollectServerInfo() {}

void ReadVersionFromLog() {}

}  // namespace vesperline
