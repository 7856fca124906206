// Counts heap allocations made by the link and portlink: malloc and friends
// are replaced (operator new ends in malloc), and a call is counted while a
// measurement is open and it comes either from a thread other than the UI
// thread (portlink's listeners) or from the UI thread inside a link call.
#pragma once

#include <atomic>
#include <cstdint>

namespace alloc_count {

// Set on the UI thread before any other thread starts.
void MarkUiThread();
// The UI thread enters or leaves link or portlink code.
void SetInLink(bool inLink);
bool InLink();

void Open();               // start counting
void Close();              // stop counting
uint64_t UiCount();        // counted on the UI thread
uint64_t ListenerCount();  // counted on other threads
void Reset();

}  // namespace alloc_count
