#pragma once
// The kind of system this program was built for.

namespace kvx::platform {

enum class HostSystem { Linux, Windows32, Windows64 };
HostSystem hostSystem();

}  // namespace kvx::platform
