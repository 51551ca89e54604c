#pragma once
// Sleeps the calling thread for `milliseconds`, resuming after signals.
void DRAV_msleep(int milliseconds);
