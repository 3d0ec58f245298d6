// The one lock of the text screen and the picture. The window thread's blink
// and paint copies and the application thread's drawing each hold it for one
// whole operation, so neither sees the other half done.
#pragma once

#include <mutex>

extern std::mutex screen_lock;
