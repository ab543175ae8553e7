#include "devicelib/platform/remote/remote_platform.h"

#include "devicelib/platform/failing_platform.h"

namespace kav::platform::remote {

Platform& RemotePlatformInstance() {
    static FailingPlatform instance;
    return instance;
}

}  // namespace kav::platform::remote
