#pragma once
// Marks the few symbols that libdravstream exports; everything else in the
// plug-in is built with hidden visibility.
#define DRAV_EXPORT __attribute__((visibility("default")))
