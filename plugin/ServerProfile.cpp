#include "plugin/ServerProfile.h"

namespace vesperline {

ServerProfile Profile;

}  // namespace vesperline
