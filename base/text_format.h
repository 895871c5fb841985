// Formatted text into a fixed buffer, as the C library's vsnprintf writes it for the conversions
// the firmware uses: flags - + space 0 #, field width and precision (digits or *), the length
// modifiers hh h l z j t, and c s d i u o x X %. The target image takes snprintf and vsnprintf from
// here (smaller than the library's); the host's tests hold it to the host library's output.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace TextFormat {

// Writes at most size - 1 characters and a terminating NUL (nothing when size is 0); returns the
// length the whole text would have.
int formatV(char* out, size_t size, const char* format, va_list args);

}  // namespace TextFormat
