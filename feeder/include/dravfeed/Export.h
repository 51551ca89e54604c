#pragma once
// The library is built with hidden visibility: only what the API marks with
// DRAV_FEED_API is exported from libdravfeed.so, so its internals can change
// without touching a program built against it.
#define DRAV_FEED_API __attribute__((visibility("default")))
// A class nested in an exported one inherits its visibility; a private
// implementation (a pimpl) takes this one so that it stays inside.
#define DRAV_FEED_HIDDEN __attribute__((visibility("hidden")))
