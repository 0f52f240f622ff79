#include <cstdlib>

#include "platform/combase.h"

extern "C" {

void* CoTaskMemAlloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }

}  // extern "C"
