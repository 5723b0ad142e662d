#pragma once

// The library is built with hidden visibility so its internals never collide
// with the host's symbols; only the hidapi and libusb surface is exported.
#define PADSIM_EXPORT __attribute__((visibility("default")))
