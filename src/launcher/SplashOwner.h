#pragma once
// The window that owns a launch-error message box: the splash window while one is on
// screen, otherwise none (null).

namespace kvx {

void* splashOwnerWindow();

}  // namespace kvx
