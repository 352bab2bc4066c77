// COM task-memory allocation: blocks that one side allocates and the other
// frees with CoTaskMemFree.
#pragma once

#include <cstddef>

// Returns null when the memory is not available. A request for 0 bytes still
// gives a distinct block.
void* CoTaskMemAlloc(size_t size);
// Null is allowed and does nothing.
void CoTaskMemFree(void* block);
