// What a call into the hardware layer costs besides its work: nothing on the chip. Inline, so
// that the common part's calls leave no trace in the image.
#pragma once

inline void halCallBegins() {}
