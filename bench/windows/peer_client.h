/* A plain Win32 client of the device on COM<com>: `requests` ADC reads, each
 * round trip's microseconds in us[]. event_first: wait for the arrival event
 * before reading, as an event-driven host does; else read at once what came.
 * Answers how many completed (-1: the port would not open or take its
 * settings). */
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif
int peer_round_trips(int com, int requests, int event_first, double *us);
#ifdef __cplusplus
}
#endif
