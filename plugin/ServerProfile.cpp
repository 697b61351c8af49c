#include "plugin/ServerProfile.h"

#include <new>

namespace vesperline {

namespace {

// The storage of the profile. A host that ends the process without unloading the plugin leaves the
// heartbeat thread running while the module's static objects are destroyed. Destroying a thread
// object that still holds a thread ends the process, and joining it there can deadlock on
// Windows, where the loader lock is held; so the thread is detached and told to stop. The worker
// may then still be in a heartbeat, reading the profile, so the profile is then not destroyed at
// all: the process is ending and takes its memory with it.
class ProfileStorage {
 public:
  ProfileStorage() { new (bytes_) ServerProfile(); }
  ~ProfileStorage() {
    ServerProfile& profile = Get();
    if (!profile.HeartbeatThread.joinable()) {
      profile.~ServerProfile();
      return;
    }
    profile.Running.store(false, std::memory_order_seq_cst);
    profile.HeartbeatThread.detach();
  }
  ProfileStorage(const ProfileStorage&) = delete;
  ProfileStorage& operator=(const ProfileStorage&) = delete;

  ServerProfile& Get() { return *std::launder(reinterpret_cast<ServerProfile*>(bytes_)); }

 private:
  alignas(ServerProfile) unsigned char bytes_[sizeof(ServerProfile)];
};

ProfileStorage gProfileStorage;

}  // namespace

ServerProfile& Profile = gProfileStorage.Get();

void ResetProfile() {
  static_cast<ServerFacts&>(Profile) = ServerFacts();
  Profile.PluginDir.clear();
  Profile.VersionLog.Reset();
}

}  // namespace vesperline
